// Fuzz target: any bytes as a torso file. The description it gives must be one the painter can use
// safely: clips ordered by name with at least one frame and their exit bits, a sane cell grid and frame
// rate; and a few seconds of gestures over it always name a real cell.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "extras/torso.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qm::TorsoDef def = qm::parseTorso("fuzz", text);
    if (def.cols < 1 || !(def.fps > 0) || !(def.headW >= 1) || !std::isfinite(def.headX) ||
        def.clips.size() > static_cast<size_t>(qm::kMostTorsoClips))
        __builtin_trap();
    for (size_t i = 0; i < def.clips.size(); ++i) {
        if (def.clips[i].frames < 1 ||
            def.clips[i].exits.size() != static_cast<size_t>(def.clips[i].frames) + 1)
            __builtin_trap();
        if (i > 0 && !(def.clips[i - 1].name < def.clips[i].name)) __builtin_trap();
    }
    if (!qm::torsoUsable(def)) return 0;
    qm::TorsoAnimator animator;
    animator.reset(&def, static_cast<uint32_t>(size));
    qm::FaceGeometry face;
    face.leftEye = {100, 100}, face.rightEye = {160, 100};
    face.leftBrow = {100, 80}, face.rightBrow = {160, 80};
    face.mouthWidth = 60;
    for (int k = 0; k < 200; ++k) {
        const double t = k / 30.0;
        face.mouthOpen = (k / 5) % 2 ? 0.3f : 0.0f;
        face.roll = k > 100 ? 0.3f : 0.0f;
        animator.updateMood(face, t);
        const qm::TorsoFrame f = animator.frameAt(t);
        if (f.clip < 0) continue;
        if (f.clip >= static_cast<int>(def.clips.size()) || f.frame < 0 ||
            f.frame >= def.clips[f.clip].frames || f.column != f.frame % def.cols ||
            f.row != f.frame / def.cols)
            __builtin_trap();
    }
    return 0;
}
