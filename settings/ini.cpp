#include "settings/ini.h"

#include "base/log.h"
#include "platform/file_write.h"

#include <unordered_set>

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace qm {
namespace {

std::string_view trim(std::string_view text) {
    size_t start = text.find_first_not_of(" \t\r\v\f");
    if (start == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t\r\v\f");
    return text.substr(start, end - start + 1);
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Cuts to at most maxChars UTF-8 characters.
std::string cutCharacters(std::string_view text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == maxChars) return std::string(text.substr(0, i));
            ++chars;
        }
    }
    return std::string(text);
}

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

IniDocument IniDocument::parse(std::string_view text) {
    IniDocument document;
    // Editors on other systems may begin the file with a UTF-8 byte-order mark; it is not part of the
    // first line (which would otherwise never read as a section header).
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        document.byteOrderMark_ = kByteOrderMark;
        text.remove_prefix(kByteOrderMark.size());
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view raw =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        Line line;
        if (end != std::string_view::npos) line.ending = "\n";
        if (!raw.empty() && raw.back() == '\r') {
            raw.remove_suffix(1);
            line.ending.insert(0, "\r");
        }
        line.text = std::string(raw);
        std::string_view content = trim(raw);
        if (!content.empty() && content.front() == '[') {
            size_t close = content.find(']');
            line.header = true;
            line.section = std::string(trim(
                content.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
        } else if (!content.empty() && content.front() != ';') {
            size_t equals = content.find('=');
            if (equals != std::string_view::npos && equals > 0) {
                line.key = std::string(trim(content.substr(0, equals)));
                line.value = std::string(trim(content.substr(equals + 1)));
            }
        }
        document.lines_.push_back(std::move(line));
    }
    return document;
}

std::string IniDocument::serialize() const {
    std::string text = byteOrderMark_;
    for (size_t i = 0; i < lines_.size(); ++i) {
        text += lines_[i].text;
        // The file's own line breaks are kept; a last line without one gets it when lines follow it.
        bool needsBreak = lines_[i].ending.empty() || lines_[i].ending == "\r";
        text += needsBreak && i + 1 < lines_.size() ? lines_[i].ending + "\n" : lines_[i].ending;
    }
    return text;
}

long IniDocument::findSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].header && equalsNoCase(lines_[i].section, section)) return static_cast<long>(i);
    return -1;
}

long IniDocument::findKey(long header, std::string_view key) const {
    for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size() && !lines_[i].header; ++i)
        if (!lines_[i].key.empty() && equalsNoCase(lines_[i].key, key)) return static_cast<long>(i);
    return -1;
}

const std::string* IniDocument::find(std::string_view section, std::string_view key) const {
    long header = findSection(section);
    if (header < 0) return nullptr;
    long index = findKey(header, key);
    return index < 0 ? nullptr : &lines_[static_cast<size_t>(index)].value;
}

std::string IniDocument::getString(std::string_view section, std::string_view key, std::string_view fallback,
                                   size_t maxChars) const {
    const std::string* raw = find(section, key);
    std::string_view value = raw ? std::string_view(*raw) : fallback;
    if (raw && value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return cutCharacters(value, maxChars);
}

int IniDocument::getInt(std::string_view section, std::string_view key, int fallback) const {
    const std::string* raw = find(section, key);
    if (!raw || raw->empty()) return fallback;
    const char* p = raw->c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;  // saturate, keep reading digits
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    Line line;
    line.ending = "\n";
    line.key = std::string(key);
    line.value = std::string(trim(value));
    line.text = line.key + "=" + line.value;
    long header = findSection(section);
    if (header < 0) {
        Line head;
        head.ending = "\n";
        head.header = true;
        head.section = std::string(section);
        head.text = "[" + head.section + "]";
        lines_.push_back(std::move(head));
        lines_.push_back(std::move(line));
        return;
    }
    long index = findKey(header, key);
    if (index >= 0) {
        lines_[static_cast<size_t>(index)] = std::move(line);
        return;
    }
    // After the last key of the section, before any blank or comment lines that trail it.
    size_t insert = static_cast<size_t>(header) + 1;
    for (size_t i = insert; i < lines_.size() && !lines_[i].header; ++i)
        if (!lines_[i].key.empty()) insert = i + 1;
    lines_.insert(lines_.begin() + static_cast<long>(insert), std::move(line));
}

void IniDocument::removeKey(std::string_view section, std::string_view key) {
    long header = findSection(section);
    if (header < 0) return;
    long index = findKey(header, key);
    if (index >= 0) lines_.erase(lines_.begin() + index);
}

void IniDocument::removeSection(std::string_view section) {
    long header = findSection(section);
    if (header < 0) return;
    size_t end = static_cast<size_t>(header) + 1;
    while (end < lines_.size() && !lines_[end].header)
        ++end;
    lines_.erase(lines_.begin() + header, lines_.begin() + static_cast<long>(end));
}

std::vector<std::string> IniDocument::sectionNames() const {
    // Linear in the file: names are compared case-insensitively through a set of lowered copies.
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const Line& line : lines_) {
        if (!line.header) continue;
        std::string key = line.section;
        for (char& c : key)
            c = lower(c);
        if (seen.insert(std::move(key)).second) names.push_back(line.section);
    }
    return names;
}

IniDocument readIniFile(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    if (static_cast<size_t>(st.st_size) > kMaxIniBytes) {
        logLine(
            "settings: %s is larger than %zu bytes and is not read; it is kept as %s.too-large when "
            "the settings are next saved",
            path.c_str(), kMaxIniBytes, path.c_str());
        return {};
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    std::string text;
    text.resize(static_cast<size_t>(st.st_size));
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    return IniDocument::parse(text);
}

bool iniFileTooLarge(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<size_t>(st.st_size) > kMaxIniBytes;
}

bool writeIniFile(const std::string& path, const IniDocument& document) {
    if (path.empty()) return false;
    if (iniFileTooLarge(path)) {
        if (std::rename(path.c_str(), (path + ".too-large").c_str()) != 0) return false;
    }
    std::string text = document.serialize();
    // The next read refuses a file over the limit: writing one would lose every setting at the next start.
    if (text.size() > kMaxIniBytes) {
        logLine("settings: %s not written, it would pass the %zu-byte limit", path.c_str(), kMaxIniBytes);
        return false;
    }
    return writeFileReplacing(path, text.data(), text.size());
}

std::string profileString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback, size_t maxChars) {
    return readIniFile(path).getString(section, key, fallback, maxChars);
}

int profileInt(const std::string& path, std::string_view section, std::string_view key, int fallback) {
    return readIniFile(path).getInt(section, key, fallback);
}

bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    IniDocument document = readIniFile(path);
    document.set(section, key, value);
    return writeIniFile(path, document);
}

bool deleteProfileKey(const std::string& path, std::string_view section, std::string_view key) {
    IniDocument document = readIniFile(path);
    document.removeKey(section, key);
    return writeIniFile(path, document);
}

bool deleteProfileSection(const std::string& path, std::string_view section) {
    IniDocument document = readIniFile(path);
    document.removeSection(section);
    return writeIniFile(path, document);
}

std::vector<std::string> profileSectionNames(const std::string& path) {
    return readIniFile(path).sectionNames();
}

}  // namespace qm
