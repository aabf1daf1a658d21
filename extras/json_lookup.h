// Lookups in the raw text of the small hand-written animation files (torsos, visitors). The text is never
// parsed into a tree: each lookup searches it for one key, and a loader narrows a search by passing the
// section it means (the text between an object's braces). The lookups never fail and never read outside
// the text they are given, whatever bytes it holds: a missing key gives the caller's default or an empty
// result.
//
// A key is found at its first occurrence as "key" (with its quotes) anywhere in the text, at any depth and
// inside string values too. Pure; any thread.
#pragma once

#include <string_view>
#include <vector>

namespace qm {

// The number after the key's colon (the longest prefix strtod takes; 0 when none), else `fallback`.
double jsonNumber(std::string_view text, std::string_view key, double fallback);

// True only when the first character after the key's colon and any spaces, tabs and line ends is 't'.
bool jsonFlag(std::string_view text, std::string_view key);

// The text between the first `open` after the key and its matching `close`, both left out; empty when the
// key, the open character or the match is missing. Quotes are not special: a brace in a string counts.
std::string_view jsonBlock(std::string_view text, std::string_view key, char open, char close);

// Every number in the text in order: at each digit or '-', the number strtod takes there.
std::vector<double> jsonNumbers(std::string_view text);
// The same into a caller's list (cleared first), for callers that keep one.
void jsonNumbers(std::string_view text, std::vector<double>* numbers);

}  // namespace qm
