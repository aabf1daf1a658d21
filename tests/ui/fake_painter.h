// A Painter that draws nothing and measures text by a fixed rule (7 DIPs per character at 14 DIPs,
// 17 DIPs per line), recording what the paint asked for.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ui/painter.h"

namespace qm::test {

struct TextCall {
    std::string text;
    Rect rect;
    TextStyle style;
    Colour colour;
};

struct CircleCall {
    float cx, cy, radius;
    Colour colour;
};

class FakePainter : public Painter {
public:
    std::vector<TextCall> texts;
    std::vector<CircleCall> circles;
    std::vector<Rect> rects;    // filled rectangles, plain and rounded
    std::vector<Rect> strokes;  // outlined rounded rectangles
    std::vector<std::pair<Rect, bool>> previews;
    std::vector<std::pair<ThumbnailGroup, int>> thumbnailsDrawn;
    std::vector<bool> thumbnailsMirrored;
    std::vector<std::pair<ThumbnailGroup, int>> missingThumbnails;  // every other entry has a picture
    int lines = 0;
    int clipDepth = 0, maxClipDepth = 0;

    static float fontSize(Font font) {
        constexpr float sizes[] = {22, 16, 14, 14, 12.5f, 11, 15, 18, 18, 14, 34};
        return sizes[static_cast<int>(font)];
    }
    void clear(Colour) override {}
    void fillRect(const Rect& r, Colour) override { rects.push_back(r); }
    void fillRoundRect(const Rect& r, float, Colour) override { rects.push_back(r); }
    void strokeRoundRect(const Rect& r, float, float, Colour) override { strokes.push_back(r); }
    void strokeLine(float, float, float, float, float, Colour) override { ++lines; }
    void fillCircle(float cx, float cy, float radius, Colour colour) override {
        circles.push_back({cx, cy, radius, colour});
    }
    void drawText(std::string_view text, const Rect& rect, const TextStyle& style, Colour colour) override {
        texts.push_back({std::string(text), rect, style, colour});
    }
    TextSize measureText(std::string_view text, Font font, float maxWidth, bool wrap) override {
        float width = text.size() * 7 * fontSize(font) / 14;
        float line = 17 * fontSize(font) / 14;
        if (!wrap) return {std::min(width, maxWidth), line};
        float lines = std::max(1.0f, std::ceil(width / maxWidth));
        return {std::min(width, maxWidth), lines * line};
    }
    void pushClip(const Rect&) override { maxClipDepth = std::max(maxClipDepth, ++clipDepth); }
    void pushRoundClip(const Rect&, float) override { maxClipDepth = std::max(maxClipDepth, ++clipDepth); }
    void popClip() override { --clipDepth; }
    void drawPreview(const Rect& rect, bool mirrored) override { previews.push_back({rect, mirrored}); }
    bool hasThumbnail(ThumbnailGroup group, int index) const override {
        return std::find(missingThumbnails.begin(), missingThumbnails.end(), std::pair{group, index}) ==
               missingThumbnails.end();
    }
    bool drawThumbnail(ThumbnailGroup group, int index, const Rect&, bool, float, bool mirrored) override {
        if (!hasThumbnail(group, index)) return false;
        thumbnailsDrawn.push_back({group, index});
        thumbnailsMirrored.push_back(mirrored);
        return true;
    }

    const TextCall* findText(const std::string& prefix) const {
        for (const TextCall& t : texts)
            if (t.text.rfind(prefix, 0) == 0) return &t;
        return nullptr;
    }
};

}  // namespace qm::test
