// CairoPainter: the Painter on a Cairo context, with Pango for text. Made for one paint of the window
// (window thread); it borrows the fonts, the preview picture and the thumbnail cache from the window.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include "ui/painter.h"
#include "ui/preview_picture.h"
#include "ui/thumbnail_cache.h"

namespace qm {

// The window's text formats as Pango font descriptions ("Segoe UI" → Inter, the icon set → Material
// Icons), sizes in DIPs.
struct FontSet {
    PangoFontDescription* fonts[kFontCount] = {};
    FontSet();
    ~FontSet();
    FontSet(const FontSet&) = delete;
    FontSet& operator=(const FontSet&) = delete;
};

class CairoPainter : public Painter {
public:
    CairoPainter(cairo_t* cr, const FontSet& fonts, PreviewPicture* preview,
                 const ThumbnailCache* thumbnails);
    ~CairoPainter() override;

    void clear(Colour colour) override;
    void fillRect(const Rect& rect, Colour colour) override;
    void fillRoundRect(const Rect& rect, float radius, Colour colour) override;
    void strokeRoundRect(const Rect& rect, float radius, float width, Colour colour) override;
    void strokeLine(float x0, float y0, float x1, float y1, float width, Colour colour) override;
    void fillCircle(float cx, float cy, float radius, Colour colour) override;
    void drawText(std::string_view text, const Rect& rect, const TextStyle& style, Colour colour) override;
    TextSize measureText(std::string_view text, Font font, float maxWidth, bool wrap) override;
    void pushClip(const Rect& rect) override;
    void pushRoundClip(const Rect& rect, float radius) override;
    void popClip() override;
    void drawPreview(const Rect& rect, bool mirrored) override;
    bool hasThumbnail(ThumbnailGroup group, int index) const override;
    bool drawThumbnail(ThumbnailGroup group, int index, const Rect& rect, bool cover, float opacity,
                       bool mirrored = false) override;

private:
    void setColour(Colour colour);
    void roundRectPath(const Rect& rect, float radius);
    void prepareLayout(std::string_view text, Font font, float width, bool wrap, Align align);

    cairo_t* cr_;
    const FontSet& fonts_;
    PreviewPicture* preview_;
    const ThumbnailCache* thumbnails_;
    PangoLayout* layout_;
    PangoAttrList* plainAttributes_;
    PangoAttrList* tightAttributes_;
};

}  // namespace qm
