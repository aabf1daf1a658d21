#include "ui/icons.h"

#include <glib.h>

#include "ui/painter.h"

namespace qm {
namespace {

struct IconPair {
    uint32_t fluent;
    uint32_t material;
};

// Fluent glyph → Material glyph of the same meaning.
constexpr IconPair kIcons[] = {
    {icon::kBrightness, 0xE3AB},  // brightness_6
    {icon::kAdd, 0xE145},         // add
    {icon::kCancel, 0xE5CD},      // close
    {icon::kSetting, 0xE8B8},     // settings
    {icon::kVideo, 0xE04B},       // videocam
    {icon::kRefresh, 0xE5D5},     // refresh
    {icon::kCheckMark, 0xE5CA},   // check
    {icon::kFullScreen, 0xE56B},  // zoom_out_map
    {icon::kEmoji, 0xE87C},       // face
    {icon::kContact, 0xE7FD},     // person
    {icon::kRotate, 0xE41A},      // rotate_right
    {icon::kRedEye, 0xE417},      // remove_red_eye
    {icon::kRecent, 0xE8B5},      // schedule
    {icon::kViewAll, 0xE9B0},     // grid_view
    {icon::kSwitch, 0xE8D4},      // swap_horiz
    {icon::kSort, 0xE8D5},        // swap_vert
    {icon::kPhoto, 0xE3F4},       // image
    {icon::kFrigid, 0xEB3B},      // ac_unit
};

}  // namespace

uint32_t materialIconFor(uint32_t fluentCodePoint) {
    for (const IconPair& pair : kIcons)
        if (pair.fluent == fluentCodePoint) return pair.material;
    return 0;
}

std::string utf8FromCodePoint(uint32_t c) {
    char bytes[8];
    return std::string(bytes, static_cast<size_t>(g_unichar_to_utf8(c, bytes)));
}

void drawIcon(Painter& painter, uint32_t codePoint, const Rect& rect, Font font, Colour colour) {
    uint32_t glyph = materialIconFor(codePoint);
    if (glyph == 0) return;  // an icon the table lacks draws nothing rather than a wrong glyph
    painter.drawText(utf8FromCodePoint(glyph), rect, {font, Align::Centre}, colour);
}

}  // namespace qm
