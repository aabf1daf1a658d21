#include "ui/cairo_painter.h"

#include <algorithm>
#include <cmath>

#include "ui/icons.h"

namespace qm {
namespace {

constexpr const char* kUiFamily = "Inter";

struct FontSpec {
    const char* family;
    int weight;
    double size;
};

// In the order of Font.
constexpr FontSpec kFontSpecs[kFontCount] = {
    {kUiFamily, 700, 22},       {kUiFamily, 700, 16},       {kUiFamily, 400, 14},       {kUiFamily, 600, 14},
    {kUiFamily, 400, 12.5},     {kUiFamily, 600, 11},       {kUiFamily, 900, 15},       {kUiFamily, 400, 18},
    {kIconFontFamily, 400, 18}, {kIconFontFamily, 400, 14}, {kIconFontFamily, 400, 34},
};

}  // namespace

FontSet::FontSet() {
    for (int i = 0; i < kFontCount; ++i) {
        PangoFontDescription* font = pango_font_description_new();
        pango_font_description_set_family(font, kFontSpecs[i].family);
        pango_font_description_set_weight(font, static_cast<PangoWeight>(kFontSpecs[i].weight));
        pango_font_description_set_absolute_size(font, kFontSpecs[i].size * PANGO_SCALE);
        fonts[i] = font;
    }
}

FontSet::~FontSet() {
    for (PangoFontDescription* font : fonts)
        if (font) pango_font_description_free(font);
}

CairoPainter::CairoPainter(cairo_t* cr, const FontSet& fonts, PreviewPicture* preview,
                           const ThumbnailCache* thumbnails)
    : cr_(cr),
      fonts_(fonts),
      preview_(preview),
      thumbnails_(thumbnails),
      layout_(pango_cairo_create_layout(cr)),
      plainAttributes_(pango_attr_list_new()),
      tightAttributes_(pango_attr_list_new()) {
    // Inter's contextual alternates would draw "0x8007" as "0×8007": texts read as typed.
    pango_attr_list_insert(plainAttributes_, pango_attr_font_features_new("calt 0"));
    pango_attr_list_insert(tightAttributes_, pango_attr_font_features_new("calt 0"));
    // Inter runs wider than Segoe UI; the tab captions are tightened to fit their buttons.
    pango_attr_list_insert(tightAttributes_, pango_attr_letter_spacing_new(-PANGO_SCALE * 2 / 5));
}

CairoPainter::~CairoPainter() {
    pango_attr_list_unref(plainAttributes_);
    pango_attr_list_unref(tightAttributes_);
    g_object_unref(layout_);
}

void CairoPainter::setColour(Colour c) {
    cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a);
}

void CairoPainter::roundRectPath(const Rect& r, float radius) {
    double w = r.width(), h = r.height();
    double rad = std::max(0.0, std::min<double>(radius, std::min(w, h) / 2));
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, r.right - rad, r.top + rad, rad, -M_PI / 2, 0);
    cairo_arc(cr_, r.right - rad, r.bottom - rad, rad, 0, M_PI / 2);
    cairo_arc(cr_, r.left + rad, r.bottom - rad, rad, M_PI / 2, M_PI);
    cairo_arc(cr_, r.left + rad, r.top + rad, rad, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr_);
}

void CairoPainter::clear(Colour colour) {
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
    setColour(colour);
    cairo_paint(cr_);
    cairo_restore(cr_);
}

void CairoPainter::fillRect(const Rect& r, Colour colour) {
    if (r.width() <= 0 || r.height() <= 0) return;
    setColour(colour);
    cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    cairo_fill(cr_);
}

void CairoPainter::fillRoundRect(const Rect& r, float radius, Colour colour) {
    if (r.width() <= 0 || r.height() <= 0) return;
    setColour(colour);
    roundRectPath(r, radius);
    cairo_fill(cr_);
}

void CairoPainter::strokeRoundRect(const Rect& r, float radius, float width, Colour colour) {
    setColour(colour);
    roundRectPath(r, radius);
    cairo_set_line_width(cr_, width);
    cairo_stroke(cr_);
}

void CairoPainter::strokeLine(float x0, float y0, float x1, float y1, float width, Colour colour) {
    setColour(colour);
    cairo_save(cr_);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr_, width);
    cairo_move_to(cr_, x0, y0);
    cairo_line_to(cr_, x1, y1);
    cairo_stroke(cr_);
    cairo_restore(cr_);
}

void CairoPainter::fillCircle(float cx, float cy, float radius, Colour colour) {
    setColour(colour);
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, cx, cy, radius, 0, 2 * M_PI);
    cairo_fill(cr_);
}

void CairoPainter::prepareLayout(std::string_view text, Font font, float width, bool wrap, Align align) {
    pango_layout_set_font_description(layout_, fonts_.fonts[static_cast<int>(font)]);
    pango_layout_set_text(layout_, text.data(), static_cast<int>(text.size()));
    pango_layout_set_attributes(layout_, font == Font::Tab ? tightAttributes_ : plainAttributes_);
    if (wrap) {
        pango_layout_set_width(layout_, static_cast<int>(std::max(1.0f, width) * PANGO_SCALE));
        pango_layout_set_wrap(layout_, PANGO_WRAP_WORD_CHAR);
    } else {
        pango_layout_set_width(layout_, -1);
    }
    pango_layout_set_height(layout_, -1);
    PangoAlignment alignment = align == Align::Centre     ? PANGO_ALIGN_CENTER
                               : align == Align::Trailing ? PANGO_ALIGN_RIGHT
                                                          : PANGO_ALIGN_LEFT;
    pango_layout_set_alignment(layout_, alignment);
}

TextSize CairoPainter::measureText(std::string_view text, Font font, float maxWidth, bool wrap) {
    prepareLayout(text, font, maxWidth, wrap, Align::Leading);
    PangoRectangle logical;
    pango_layout_get_extents(layout_, nullptr, &logical);
    float width = std::min(static_cast<float>(logical.width) / PANGO_SCALE, maxWidth);
    float height = std::min(static_cast<float>(logical.height) / PANGO_SCALE, 2000.0f);
    return {width, height};
}

void CairoPainter::drawText(std::string_view text, const Rect& r, const TextStyle& style, Colour colour) {
    if (text.empty() || r.width() <= 0 || r.height() <= 0) return;
    prepareLayout(text, style.font, r.width(), style.wrap, style.align);
    PangoRectangle logical;
    pango_layout_get_extents(layout_, nullptr, &logical);
    double w = static_cast<double>(logical.width) / PANGO_SCALE;
    double h = static_cast<double>(logical.height) / PANGO_SCALE;
    double x = r.left;
    if (!style.wrap) {
        if (style.align == Align::Trailing)
            x = r.right - w;
        else if (style.align == Align::Centre)
            x = r.left + (r.width() - w) / 2;
    }
    double y = style.top ? r.top : r.top + (r.height() - h) / 2;
    cairo_save(cr_);
    cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    cairo_clip(cr_);
    setColour(colour);
    cairo_move_to(cr_, x, y);
    pango_cairo_show_layout(cr_, layout_);
    cairo_restore(cr_);
}

void CairoPainter::pushClip(const Rect& r) {
    cairo_save(cr_);
    cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    cairo_clip(cr_);
}

void CairoPainter::pushRoundClip(const Rect& r, float radius) {
    cairo_save(cr_);
    roundRectPath(r, radius);
    cairo_clip(cr_);
}

void CairoPainter::popClip() {
    cairo_restore(cr_);
}

void CairoPainter::drawPreview(const Rect& r, bool mirrored) {
    if (!preview_ || !preview_->valid() || r.width() <= 0 || r.height() <= 0) return;
    double deviceWidth = r.width(), deviceHeight = 0;
    cairo_user_to_device_distance(cr_, &deviceWidth, &deviceHeight);
    cairo_surface_t* source = preview_->sourceFor(std::fabs(deviceWidth));
    int fw = cairo_image_surface_get_width(source), fh = cairo_image_surface_get_height(source);
    cairo_save(cr_);
    cairo_translate(cr_, r.left, r.top);
    if (mirrored) {
        cairo_translate(cr_, r.width(), 0);
        cairo_scale(cr_, -1, 1);
    }
    cairo_scale(cr_, r.width() / fw, r.height() / fh);
    cairo_set_source_surface(cr_, source, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_BILINEAR);
    cairo_paint(cr_);
    cairo_restore(cr_);
}

bool CairoPainter::hasThumbnail(ThumbnailGroup group, int index) const {
    return thumbnails_ && thumbnails_->get(group, index);
}

bool CairoPainter::drawThumbnail(ThumbnailGroup group, int index, const Rect& r, bool cover, float opacity,
                                 bool mirrored) {
    cairo_surface_t* picture = thumbnails_ ? thumbnails_->get(group, index) : nullptr;
    if (!picture) return false;
    double pw = cairo_image_surface_get_width(picture), ph = cairo_image_surface_get_height(picture);
    if (pw <= 0 || ph <= 0 || r.width() <= 0 || r.height() <= 0) return false;
    double scale =
        cover ? std::max(r.width() / pw, r.height() / ph) : std::min(r.width() / pw, r.height() / ph);
    double w = pw * scale, h = ph * scale;
    double x = r.left + (r.width() - w) / 2, y = r.top + (r.height() - h) / 2;
    cairo_save(cr_);
    cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    cairo_clip(cr_);
    if (mirrored) {
        cairo_translate(cr_, r.left + r.right, 0);
        cairo_scale(cr_, -1, 1);
    }
    cairo_translate(cr_, x, y);
    // The picture at the size it takes on the device, scaled once and kept by the cache.
    double dw = w, dh = h;
    cairo_user_to_device_distance(cr_, &dw, &dh);
    const int sw = static_cast<int>(std::lround(std::fabs(dw))),
              sh = static_cast<int>(std::lround(std::fabs(dh)));
    if (cairo_surface_t* sized = thumbnails_->sized(group, index, sw, sh)) {
        cairo_scale(cr_, w / sw, h / sh);
        picture = sized;
    } else {
        cairo_scale(cr_, scale, scale);
    }
    cairo_set_source_surface(cr_, picture, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
    cairo_paint_with_alpha(cr_, opacity);
    cairo_restore(cr_);
    return true;
}

}  // namespace qm
