// Fuzz target: any bytes as a visitor file. A usable description must have one cx and one feet entry per
// frame and sane rates; its placements over two periods must name a real cell, finite, with the window
// clip and shadow inside the sensible range.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "extras/visitor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const qm::VisitorDef def = qm::parseVisitor("fuzz", text);
    if (def.cols < 1 || !(def.fps >= 1 && def.fps <= qm::kFastestVisitorFps) ||
        !(def.glide == -1 || (def.glide >= 0 && def.glide <= qm::kWidestVisitorGlide)) || def.freeze < 1 ||
        !std::isfinite(def.bx) || !(def.bw >= 0) || !std::isfinite(def.bw))
        __builtin_trap();
    if (!qm::visitorUsable(def)) return 0;
    for (const qm::VisitorFeet& f : def.feet)
        if (f.present && !(std::isfinite(f.x) && std::isfinite(f.y) && std::isfinite(f.size)))
            __builtin_trap();
    const qm::Fit fits[] = {{1, 0, 0, 0}, {2.5f, 0.6f, -0.5f, 0}, {0.3f, -0.6f, 0.5f, 0}};
    const double period = qm::visitorPeriod(def, 6);
    for (int k = 0; k < 120; ++k) {
        const double t = k * period * 2000 / 120;
        const qm::VisitorPlacement p = qm::visitorAt(def, fits[k % 3], 6, k % 2, 1280, 720, t);
        if (!p.visible) continue;
        if (p.frame < 0 || p.frame >= def.count || p.column != p.frame % def.cols ||
            p.row != p.frame / def.cols || !std::isfinite(p.left) || !std::isfinite(p.top) || !(p.scale > 0))
            __builtin_trap();
        if (p.shadow && !(std::isfinite(p.shadowX) && p.shadowRx >= 8)) __builtin_trap();
    }
    return 0;
}
