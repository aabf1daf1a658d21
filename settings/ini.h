// Profile ("INI") files with the semantics our settings and scenes rely on: values are read and written
// key by key and everything else in the file (other keys, sections, comments, unknown lines) is kept;
// section and key names compare case-insensitively; the first of duplicate sections or keys wins;
// integer reads take the leading decimal digits; a key or a whole section can be deleted.
//
// IniDocument is the parsed file; the profile functions below read it, change one thing and write it
// back. A batch of changes (saving the settings) edits one IniDocument and writes it once.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

class IniDocument {
public:
    static IniDocument parse(std::string_view text);
    std::string serialize() const;

    // The raw value of the first matching key of the first matching section, or null.
    const std::string* find(std::string_view section, std::string_view key) const;
    // The value with surrounding quotes removed and cut to maxChars characters; `fallback` when missing.
    std::string getString(std::string_view section, std::string_view key, std::string_view fallback,
                          size_t maxChars = 4095) const;
    // The leading decimal integer of the value (0 when it has none); `fallback` when missing or empty.
    int getInt(std::string_view section, std::string_view key, int fallback) const;

    // Replaces the value of the key, adding the key (at the end of its section) or the section (at the
    // end of the file) when missing.
    void set(std::string_view section, std::string_view key, std::string_view value);
    void removeKey(std::string_view section, std::string_view key);
    void removeSection(std::string_view section);
    // Section names in file order, each once.
    std::vector<std::string> sectionNames() const;

private:
    std::string byteOrderMark_;  // a UTF-8 mark the file began with, written back before the first line
    struct Line {
        std::string text;     // the line as read (without its line break), rewritten when changed
        std::string ending;   // the line break as read ("\n", "\r\n", or none on a last line)
        std::string section;  // for headers: the section name; empty otherwise
        std::string key;      // for key lines: the trimmed key; empty otherwise
        std::string value;    // for key lines: the trimmed value
        bool header = false;
    };
    // Index of the header line of the first matching section, or -1.
    long findSection(std::string_view section) const;
    long findKey(long header, std::string_view key) const;
    std::vector<Line> lines_;
};

// Files larger than this are not parsed: reads see an empty file, and the first write sets the file
// aside (renamed with ".too-large") before writing a fresh one, so nothing the user had is destroyed.
constexpr size_t kMaxIniBytes = 4 << 20;

// Reads a profile file; a missing, unreadable or oversized file reads as empty.
IniDocument readIniFile(const std::string& path);
// Whether the file exists and is too large to be read.
bool iniFileTooLarge(const std::string& path);
// Writes the whole document through a temporary file and a rename, so a failed write never truncates
// the existing file. False on failure.
bool writeIniFile(const std::string& path, const IniDocument& document);

// One-key profile operations (read the file, change one thing, write it back).
std::string profileString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback, size_t maxChars = 4095);
int profileInt(const std::string& path, std::string_view section, std::string_view key, int fallback);
bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);
bool deleteProfileKey(const std::string& path, std::string_view section, std::string_view key);
bool deleteProfileSection(const std::string& path, std::string_view section);
std::vector<std::string> profileSectionNames(const std::string& path);

// Case-insensitive comparison of ASCII letters; other bytes compare exactly.
bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace qm
