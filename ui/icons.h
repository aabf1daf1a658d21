// The window's icons. Each is named by its code point in the Fluent icon set (what the Windows build
// draws); this platform draws them with the Material Icons font from Debian, through the one table in
// icons.cpp, each with a glyph of the same meaning.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

namespace icon {
constexpr uint32_t kBrightness = 0xE706;
constexpr uint32_t kAdd = 0xE710;
constexpr uint32_t kCancel = 0xE711;
constexpr uint32_t kSetting = 0xE713;
constexpr uint32_t kVideo = 0xE714;
constexpr uint32_t kRefresh = 0xE72C;
constexpr uint32_t kCheckMark = 0xE73E;
constexpr uint32_t kFullScreen = 0xE740;
constexpr uint32_t kEmoji = 0xE76E;
constexpr uint32_t kContact = 0xE77B;
constexpr uint32_t kRotate = 0xE7AD;
constexpr uint32_t kRedEye = 0xE7B3;
constexpr uint32_t kRecent = 0xE823;
constexpr uint32_t kViewAll = 0xE8A9;
constexpr uint32_t kSwitch = 0xE8AB;
constexpr uint32_t kSort = 0xE8CB;
constexpr uint32_t kPhoto = 0xE91B;
constexpr uint32_t kFrigid = 0xE9CA;
}  // namespace icon

// The Material Icons code point for a Fluent code point; 0 when the table has none.
uint32_t materialIconFor(uint32_t fluentCodePoint);

// UTF-8 text of one code point.
std::string utf8FromCodePoint(uint32_t codePoint);

// The font family the icon formats use.
constexpr const char* kIconFontFamily = "Material Icons";

}  // namespace qm
