// The window's faces come from the Debian font packages: the UI face resolves to Inter and every icon
// the window uses has a real glyph in Material Icons (no fallback box).
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <string>

#include "ui/cairo_painter.h"
#include "ui/icons.h"

namespace qm {
namespace {

struct Layout {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    ~Layout() {
        g_object_unref(layout);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    std::string resolvedFamily(const PangoFontDescription* font) {
        PangoFont* loaded = pango_context_load_font(pango_layout_get_context(layout), font);
        if (!loaded) return {};
        PangoFontDescription* described = pango_font_describe(loaded);
        std::string family = pango_font_description_get_family(described);
        pango_font_description_free(described);
        g_object_unref(loaded);
        return family;
    }
};

TEST(Fonts, UiAndIconFacesResolveToTheirPackages) {
    FontSet fonts;
    Layout l;
    EXPECT_EQ(l.resolvedFamily(fonts.fonts[static_cast<int>(Font::Body)]), "Inter");
    EXPECT_EQ(l.resolvedFamily(fonts.fonts[static_cast<int>(Font::Badge)]), "Inter");
    EXPECT_EQ(l.resolvedFamily(fonts.fonts[static_cast<int>(Font::Icon)]), kIconFontFamily);
}

TEST(Fonts, EveryFluentIconHasAGlyph) {
    FontSet fonts;
    Layout l;
    pango_layout_set_font_description(l.layout, fonts.fonts[static_cast<int>(Font::Icon)]);
    for (uint32_t code :
         {icon::kBrightness, icon::kAdd, icon::kCancel, icon::kSetting, icon::kVideo, icon::kRefresh,
          icon::kCheckMark, icon::kFullScreen, icon::kEmoji, icon::kContact, icon::kRotate, icon::kRedEye,
          icon::kRecent, icon::kViewAll, icon::kSwitch, icon::kSort, icon::kPhoto, icon::kFrigid}) {
        std::string glyph = utf8FromCodePoint(materialIconFor(code));
        pango_layout_set_text(l.layout, glyph.c_str(), -1);
        EXPECT_EQ(pango_layout_get_unknown_glyphs_count(l.layout), 0) << std::hex << code;
        PangoRectangle ink;
        pango_layout_get_pixel_extents(l.layout, &ink, nullptr);
        EXPECT_GT(ink.width, 4) << std::hex << code;  // drawn, not an empty glyph
    }
}

}  // namespace
}  // namespace qm
