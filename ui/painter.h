// Painter: what the window's paint needs from a drawing layer, in DIPs. The window implements it with
// Cairo and Pango; tests implement it with a recorder that measures text by a fixed rule. The paint and
// the controls only ever draw through this interface, so their layout runs without a display.
#pragma once

#include <cstdint>
#include <string_view>

#include "ui/panel_types.h"

namespace qm {

// The window's eleven text formats.
enum class Font : int {
    Title,      // 700, 22: tab titles
    Heading,    // 700, 16: section headings, card title
    Body,       // 400, 14: status text, notes, chip labels, messages
    Label,      // 600, 14: slider titles
    Small,      // 400, 12.5: end labels, segment labels, captions
    Tab,        // 600, 11: tab captions
    Badge,      // 900, 15: "LIVE" / "CAMERA OFF"
    Preview,    // 400, 18: messages inside the preview
    Icon,       // icons, 18
    SmallIcon,  // icons, 14
    LargeIcon,  // icons, 34
};
constexpr int kFontCount = 11;

enum class Align { Leading, Trailing, Centre };

struct TextSize {
    float width = 0;  // including trailing white space
    float height = 0;
};

// How a text is laid into its rectangle. Single lines sit vertically centred; a wrapped note sits at
// the top. Text is always clipped to its rectangle.
struct TextStyle {
    Font font = Font::Body;
    Align align = Align::Leading;
    bool wrap = false;
    bool top = false;
};

// The groups of the thumbnail cache; an entry is a group and an index within it.
enum class ThumbnailGroup : int { BuiltInFace, UserFace, Scene, Background, Torso, Wear };
constexpr int kThumbnailGroups = 6;

class Painter {
public:
    virtual ~Painter() = default;
    virtual void clear(Colour colour) = 0;
    virtual void fillRect(const Rect& rect, Colour colour) = 0;
    virtual void fillRoundRect(const Rect& rect, float radius, Colour colour) = 0;
    virtual void strokeRoundRect(const Rect& rect, float radius, float width, Colour colour) = 0;
    virtual void fillCircle(float cx, float cy, float radius, Colour colour) = 0;
    // A straight stroke with round ends.
    virtual void strokeLine(float x0, float y0, float x1, float y1, float width, Colour colour) = 0;
    virtual void drawText(std::string_view text, const Rect& rect, const TextStyle& style, Colour colour) = 0;
    // Width and height of the laid-out text at the given maximum width (maximum height 2000).
    virtual TextSize measureText(std::string_view text, Font font, float maxWidth, bool wrap = false) = 0;
    // Clips nest; every push is matched by one pop.
    virtual void pushClip(const Rect& rect) = 0;
    virtual void pushRoundClip(const Rect& rect, float radius) = 0;
    virtual void popClip() = 0;
    // The last preview frame stretched over the rectangle, flipped left to right when mirrored.
    virtual void drawPreview(const Rect& rect, bool mirrored) = 0;
    // Whether the cache holds a picture for the entry.
    virtual bool hasThumbnail(ThumbnailGroup group, int index) const = 0;
    // A cached thumbnail: fitted (aspect kept, centred inside) or covering the rectangle (cropped),
    // flipped left to right about the rectangle's centre when mirrored. False when the cache has no
    // picture for the entry; nothing is drawn then.
    virtual bool drawThumbnail(ThumbnailGroup group, int index, const Rect& rect, bool cover, float opacity,
                               bool mirrored = false) = 0;
};

// Draws one icon (given by its Fluent code point, icons.h) centred in the rectangle.
void drawIcon(Painter& painter, uint32_t codePoint, const Rect& rect, Font font, Colour colour);

}  // namespace qm
