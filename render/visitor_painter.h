// Room visitors: sprite figures that pass through the room behind the person now and then. The painter owns
// the chosen visitor's description (extras/visitor), its cells, its schedule and its contact shadow.
//
// Contract: engine thread only. choose() runs when the chosen visitor changes: the file and sheet are read
// and cut beside the loop (a sheet takes a good fraction of a second), with the log lines "visitor %s: no
// json", "visitor %s: cannot read it" and "visitor %s: %d frames, %.0f x %.0f[, glides]"; the finished load
// is taken by poll() or draw() on a later frame. restart() on "Send now"; the composer calls draw once per
// frame between the back layer and the person, with the cover transform on the canvas context. draw
// allocates nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/frame_filters.h"
#include "extras/visitor.h"
#include "render/graphics.h"
#include "render/side_load.h"
#include "render/sprite_cells.h"

namespace qm {

// Visitor files longer than this are refused as unreadable: real ones are a few kilobytes.
constexpr size_t kLongestVisitorFile = 1 << 20;

// A visitor read and cut, ready to draw.
struct LoadedVisitor {
    VisitorDef def;
    std::vector<SpriteCell> cells;  // one per frame
};

// Reads "visitor_<name>.json" and its sheet from the asset folder (with a trailing '/'), logging as above;
// null when the visitor cannot be shown. Any thread.
std::unique_ptr<LoadedVisitor> loadVisitor(const std::string& assetFolder, const std::string& name);

class VisitorPainter {
public:
    ~VisitorPainter();

    // Drops the current visitor and starts loading the named one ("" for none).
    void choose(const std::string& assetFolder, const std::string& name);
    const std::string& chosen() const { return name_; }
    // Takes a finished load; true while a visitor is installed.
    bool poll();
    bool loaded() const { return current_ != nullptr; }
    // Blocks until the load under way has ended (tests, benchmarks); returns loaded().
    bool waitUntilLoaded();
    // The next appearance starts on the next frame.
    void restart() { start_ = -1; }
    // Releases the visitor (at engine shutdown).
    void release();

    void draw(Graphics& g, const FrameFilters& filters, double timeMs);

    // Where the last drawn frame went (visible = false when nothing was drawn).
    const VisitorPlacement& lastPlacement() const { return last_; }

private:
    std::string name_;
    std::unique_ptr<LoadedVisitor> current_;
    SideLoad<LoadedVisitor> load_;
    double start_ = -1;
    PatternPtr shadow_;  // the contact shadow's gradient over the unit circle, made once
    VisitorPlacement last_;
};

}  // namespace qm
