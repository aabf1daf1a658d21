#include "extras/json_lookup.h"

#include <locale.h>
#include <stdlib.h>

#include <cstring>

namespace qm {

namespace {

// Where "key" starts in the text, or npos.
size_t findKey(std::string_view text, std::string_view key) {
    if (key.size() + 2 > text.size()) return std::string_view::npos;
    for (size_t at = text.find('"'); at != std::string_view::npos; at = text.find('"', at + 1)) {
        if (text.size() - at < key.size() + 2) return std::string_view::npos;
        if (text.compare(at + 1, key.size(), key) == 0 && text[at + 1 + key.size()] == '"') return at;
    }
    return std::string_view::npos;
}

// The characters strtod may take for one number: sign, digits, point, exponent, and the letters of inf,
// nan and hexadecimal forms. A copy this long (bounded) is given to strtod, so it never reads past the
// text and a huge run of digits cannot make it slow.
bool numberCharacter(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || (c >= 'a' && c <= 'z') ||
           (c >= 'A' && c <= 'Z');
}

constexpr size_t kLongestNumber = 400;

// Numbers are written with a point whatever the user's locale: strtod in the "C" locale.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// Converts the number at `at` (after white space) as strtod would; *used = characters taken (0: none).
double convertAt(std::string_view text, size_t at, size_t* used) {
    size_t start = at;
    while (start < text.size() && std::strchr(" \t\n\v\f\r", text[start]) && text[start] != '\0')
        ++start;
    size_t end = start;
    while (end < text.size() && end - start < kLongestNumber && numberCharacter(text[end]))
        ++end;
    char buffer[kLongestNumber + 1];
    const size_t length = end - start;
    std::memcpy(buffer, text.data() + start, length);
    buffer[length] = '\0';
    char* stop = buffer;
    const double value = strtod_l(buffer, &stop, cLocale());
    size_t taken = static_cast<size_t>(stop - buffer);
    if (taken == 0) {
        *used = 0;
        return 0;
    }
    // A number longer than the copy: the rest of its digits belong to it.
    if (taken == kLongestNumber)
        while (start + taken < text.size() && digit(text[start + taken]))
            ++taken;
    *used = start - at + taken;
    return value;
}

// The position just after the key's colon, or npos.
size_t afterColon(std::string_view text, std::string_view key) {
    const size_t at = findKey(text, key);
    if (at == std::string_view::npos) return at;
    const size_t colon = text.find(':', at);
    return colon == std::string_view::npos ? colon : colon + 1;
}

}  // namespace

double jsonNumber(std::string_view text, std::string_view key, double fallback) {
    const size_t at = afterColon(text, key);
    if (at == std::string_view::npos) return fallback;
    size_t used = 0;
    return convertAt(text, at, &used);
}

bool jsonFlag(std::string_view text, std::string_view key) {
    size_t at = afterColon(text, key);
    if (at == std::string_view::npos) return false;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
        ++at;
    return at < text.size() && text[at] == 't';
}

std::string_view jsonBlock(std::string_view text, std::string_view key, char open, char close) {
    const size_t at = findKey(text, key);
    if (at == std::string_view::npos) return {};
    const size_t first = text.find(open, at);
    if (first == std::string_view::npos) return {};
    int depth = 0;
    for (size_t i = first; i < text.size(); ++i) {
        if (text[i] == open) {
            ++depth;
        } else if (text[i] == close) {
            if (depth == 1) return text.substr(first + 1, i - first - 1);
            --depth;
        }
    }
    return {};
}

void jsonNumbers(std::string_view text, std::vector<double>* numbers) {
    numbers->clear();
    size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (digit(c) || c == '-') {
            size_t used = 0;
            const double value = convertAt(text, at, &used);
            if (used > 0) {
                numbers->push_back(value);
                at += used;
                continue;
            }
        }
        ++at;
    }
}

std::vector<double> jsonNumbers(std::string_view text) {
    std::vector<double> numbers;
    jsonNumbers(text, &numbers);
    return numbers;
}

}  // namespace qm
