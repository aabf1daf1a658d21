// Tiles and segments that pick an entry of a list, counted from a first index (the ones before it are
// fixed choices such as "None").
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace qm {

// The list entry for a tile index counted from `first`; null when outside the list.
inline const std::string* listEntry(const std::vector<std::string>& list, int index, int first) {
    const int at = index - first;
    if (at < 0 || at >= static_cast<int>(list.size())) return nullptr;
    return &list[at];
}

inline bool inList(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace qm
