// Room visitors as a model without drawing: the visitor file's description and, for a moment of the
// schedule, which frame shows where. The visitor painter (render/visitor_painter) loads the sheet this
// description names and draws the placement visitorAt gives.
//
// Contract: pure, any thread. parseVisitor reads a file's text (any bytes: it never fails, never reads
// past the text); visitorUsable says whether the description may be drawn at all. visitorAt allocates
// nothing, so the painter calls it every frame.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/filter_types.h"

namespace qm {

// Sizes beyond these are refused as unreadable: a sheet of them could not be loaded anyway.
constexpr int kMostVisitorFrames = 4096;
constexpr float kLargestVisitorCell = 4096;
constexpr double kFastestVisitorFps = 240;
constexpr double kWidestVisitorGlide = 1000;

struct VisitorFeet {
    float x = 0, y = 0, size = 0;  // where the feet touch the floor in the cell, and how wide they are
    bool present = false;
};

// A visitor file: "visitor_" + name + ".json" beside the program, with its sheet "visitor_" + name + ".png".
struct VisitorDef {
    std::string name;
    float frameW = 0, frameH = 0;  // one cell of the sheet, pixels
    int cols = 8;                  // cells per sheet row, ≥ 1
    int count = 0;                 // frames of the animation
    double fps = 15;               // 1..240
    bool window = false;           // drawn inside a window-shaped area
    float glide = -1;       // < 0: walks through; else glides in by this many widths, holds, glides out
    int freeze = 1;         // the frame at which a glide reaches its place
    float bx = 0, bw = 0;   // the figure's horizontal extent in its cell while gliding
    std::vector<float> cx;  // per frame: the figure's horizontal offset in its cell (count entries)
    std::vector<VisitorFeet> feet;  // per frame (count entries)
};

// Builds the description from a visitor file's text. Lists are trimmed or padded to `count`, numbers that
// are not finite fall back to their defaults, rates and offsets are capped.
VisitorDef parseVisitor(std::string_view name, std::string_view json);

// Whether a described visitor may be loaded: at least one frame and a cell of at least 1 × 1 pixels, none
// of them beyond the limits above.
bool visitorUsable(const VisitorDef& def);

// The sheet size its frames need at `cols` per row.
void visitorSheetNeeded(const VisitorDef& def, double* width, double* height);

// Where one frame is drawn, in source pixels: the cell's top-left at (left, top), scale cell pixels →
// source pixels. A window visitor is clipped to `clip`; the contact shadow is an ellipse with its centre
// and radii.
struct VisitorPlacement {
    bool visible = false;
    int frame = 0, column = 0, row = 0;
    double left = 0, top = 0, scale = 1;
    bool clipped = false;
    double clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;
    float opacity = 1;
    bool shadow = false;
    double shadowX = 0, shadowY = 0, shadowRx = 0, shadowRy = 0;
};

// How long one appearance lasts, in seconds, and the period of the schedule for `every` seconds.
double visitorDuration(const VisitorDef& def);
double visitorPeriod(const VisitorDef& def, double every);

// The placement `elapsedMs` after the schedule started, on a source frame of width × height. Nothing is
// visible between appearances, nor when the fit or frame size would put the figure out of all sensible
// range.
VisitorPlacement visitorAt(const VisitorDef& def, const Fit& fit, double every, bool ghost, double width,
                           double height, double elapsedMs);

}  // namespace qm
