#include "extras/torso.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "extras/json_lookup.h"

namespace qm {

namespace {

// More frames than any sheet within the picture limit can hold; a larger count is refused by the sheet
// size check anyway, this only bounds the exit bits.
constexpr double kMostFrames = 65536;

// A number that stays finite as a float: a long run of digits is finite as a double and infinite as a float.
bool fitsFloat(double value) {
    return std::isfinite(value) && std::abs(value) <= std::numeric_limits<float>::max();
}

float finiteOr(double value, float fallback) {
    return fitsFloat(value) ? static_cast<float>(value) : fallback;
}

}  // namespace

Affine2 Affine2::rotation(double radians) {
    const double c = std::cos(radians), s = std::sin(radians);
    return {c, s, -s, c, 0, 0};
}

Affine2 Affine2::then(const Affine2& b) const {
    Affine2 r;
    r.xx = b.xx * xx + b.xy * yx;
    r.yx = b.yx * xx + b.yy * yx;
    r.xy = b.xx * xy + b.xy * yy;
    r.yy = b.yx * xy + b.yy * yy;
    r.x0 = b.xx * x0 + b.xy * y0 + b.x0;
    r.y0 = b.yx * x0 + b.yy * y0 + b.y0;
    return r;
}

Point2 Affine2::apply(double x, double y) const {
    return {static_cast<float>(xx * x + xy * y + x0), static_cast<float>(yx * x + yy * y + y0)};
}

TorsoDef parseTorso(std::string_view name, std::string_view json) {
    TorsoDef def;
    def.name = std::string(name);
    def.frameW = static_cast<float>(jsonNumber(json, "frameW", 0));
    def.frameH = static_cast<float>(jsonNumber(json, "frameH", 0));
    const double cols = jsonNumber(json, "cols", 8);
    def.cols = cols >= 1 ? static_cast<int>(std::min(cols, 4096.0)) : 1;  // NaN and ≤ 0 give 1
    const double fps = jsonNumber(json, "fps", 15);
    def.fps = fps > 0 && fps <= 1000 ? static_cast<float>(fps) : 15;
    const std::string_view head = jsonBlock(json, "head", '{', '}');
    def.headX = finiteOr(jsonNumber(head, "x", 0), 0);
    def.headY = finiteOr(jsonNumber(head, "y", 0), 0);
    const double headW = jsonNumber(head, "w", 1);
    def.headW = headW >= 1 && fitsFloat(headW) ? static_cast<float>(headW) : 1;
    def.activity = jsonFlag(json, "activity");
    def.fullLength = jsonFlag(json, "fullLength");

    // "eyes": exactly four numbers, else none.
    const std::string_view eyes = jsonBlock(json, "eyes", '[', ']');
    const std::vector<double> eyeNumbers = jsonNumbers(eyes);
    if (eyeNumbers.size() == 4 && std::all_of(eyeNumbers.begin(), eyeNumbers.end(), fitsFloat)) {
        def.hasEyes = true;
        for (int i = 0; i < 4; ++i)
            def.eyes[i] = static_cast<float>(eyeNumbers[i]);
    }

    // Clip names are the quoted strings of the "clips" block, one after another.
    const std::string_view clips = jsonBlock(json, "clips", '{', '}');
    const std::string_view exits = jsonBlock(json, "exits", '{', '}');
    std::vector<double> exitFrames;
    size_t at = 0;
    while (def.clips.size() < kMostTorsoClips) {
        const size_t open = clips.find('"', at);
        if (open == std::string_view::npos) break;
        const size_t close = clips.find('"', open + 1);
        if (close == std::string_view::npos) break;
        at = close + 1;
        const std::string_view clipName = clips.substr(open + 1, close - open - 1);
        const double count = jsonNumber(clips, clipName, 0);
        if (!(count >= 1)) continue;
        TorsoClipDef clip;
        clip.name = std::string(clipName);
        clip.frames = static_cast<int>(std::min(count, kMostFrames));
        clip.exits.assign(clip.frames + 1, false);
        jsonNumbers(jsonBlock(exits, clipName, '[', ']'), &exitFrames);
        for (double e : exitFrames)
            if (e >= 0 && e <= clip.frames) clip.exits[static_cast<size_t>(e)] = true;
        auto place = std::lower_bound(def.clips.begin(), def.clips.end(), clip.name,
                                      [](const TorsoClipDef& c, const std::string& n) { return c.name < n; });
        if (place != def.clips.end() && place->name == clip.name)
            *place = std::move(clip);
        else
            def.clips.insert(place, std::move(clip));
    }
    return def;
}

bool torsoUsable(const TorsoDef& def) {
    return !def.clips.empty() && def.frameW > 0 && def.frameH > 0 && std::isfinite(def.frameW) &&
           std::isfinite(def.frameH);
}

void sheetSizeNeeded(const TorsoDef& def, const TorsoClipDef& clip, double* width, double* height) {
    const int columns = std::min(clip.frames, def.cols);
    const int rows = (clip.frames + def.cols - 1) / def.cols;
    *width = columns * static_cast<double>(def.frameW);
    *height = rows * static_cast<double>(def.frameH);
}

Affine2 placeTorso(const TorsoDef& def, bool kittenFace, float kw, float kh, const TorsoAnchors& a,
                   const TorsoFit& fit) {
    const double roll = a.roll;
    Affine2 m;
    if (kittenFace && def.hasEyes) {
        // The kitten picture's eyes, where the kitten face is drawn this frame.
        const double lx = 0.365 * kw, ly = 0.63 * kh, rx = 0.694 * kw, ry = 0.625 * kh;
        const double d = a.eyeDistance;
        const Affine2 kitten = Affine2::translation(-(lx + rx) / 2, -(ly + ry) / 2)
                                   .then(Affine2::scaling(1.7 * d / std::max((0.694 - 0.365) * kw, 1e-6)))
                                   .then(Affine2::rotation(roll))
                                   .then(Affine2::translation(a.eyeMidX - 0.34 * d * std::sin(roll),
                                                              a.eyeMidY + 0.34 * d * std::cos(roll)));
        const Point2 k1 = kitten.apply(lx, ly), k2 = kitten.apply(rx, ry);
        const double kittenEyes = std::hypot(k2.x - k1.x, k2.y - k1.y);
        const double torsoEyes = std::hypot(def.eyes[2] - def.eyes[0], def.eyes[3] - def.eyes[1]);
        m = Affine2::translation(-(def.eyes[0] + def.eyes[2]) / 2.0, -(def.eyes[1] + def.eyes[3]) / 2.0)
                .then(Affine2::scaling(0.7 * kittenEyes / std::max(torsoEyes, 1.0)))
                .then(Affine2::rotation(roll))
                .then(Affine2::translation((k1.x + k2.x) / 2.0, (k1.y + k2.y) / 2.0));
    } else {
        double s = 0.95 * a.faceWidth / def.headW;
        double tx = a.centreX, ty = a.centreY;
        if (kittenFace) {
            s = 1.5 * a.faceWidth / def.headW;
            tx -= 0.6 * a.eyeDistance * std::sin(roll);
            ty += 0.6 * a.eyeDistance * std::cos(roll);
        }
        m = Affine2::translation(-def.headX, -def.headY)
                .then(Affine2::scaling(s))
                .then(Affine2::rotation(0.3 * roll))
                .then(Affine2::translation(tx, ty));
    }
    // The user's fit about the face centre: scale, then right by x and up by y face widths.
    return m.then(Affine2::translation(-a.centreX, -a.centreY))
        .then(Affine2::scaling(fit.scale))
        .then(Affine2::translation(a.centreX + fit.x * a.faceWidth, a.centreY - fit.y * a.faceWidth));
}

FullLengthFit fitFullLength(const TorsoDef& def, const Affine2& placement, const TorsoAnchors& a,
                            float sourceHeight) {
    FullLengthFit fit;
    fit.x = a.centreX;
    fit.y = a.centreY - 0.9 * a.faceWidth;
    if (!def.fullLength) return fit;
    const double bottom =
        std::max(placement.apply(0, def.frameH).y, placement.apply(def.frameW, def.frameH).y);
    const double f = (0.97 * sourceHeight - fit.y) / std::max(bottom - fit.y, 1.0);
    fit.scale = std::isfinite(f) ? std::clamp(f, 0.2, 1.0) : 1;
    return fit;
}

void TorsoAnimator::reset(const TorsoDef* def, uint32_t seed) {
    def_ = def;
    random_ = seed ? seed : 1;
    start_ = -1;
    lastGesture_ = -1;
    mouthFirst_ = mouthCount_ = 0;
    browBaseline_ = smileBaseline_ = -1;
    raisedSince_ = smileSince_ = tiltSince_ = -1;
    lastStarted_.assign(def ? def->clips.size() : 0, -10.0);
    idle_ = clipIndex("idle");
    shrug_ = clipIndex("shrug");
    celebrate_ = clipIndex("celebrate");
    explain_ = clipIndex("explain");
    count_ = clipIndex("count");
    point_ = clipIndex("point");
    current_ = idle_;
}

int TorsoAnimator::clipIndex(std::string_view name) const {
    if (!def_) return -1;
    for (size_t i = 0; i < def_->clips.size(); ++i)
        if (def_->clips[i].name == name) return static_cast<int>(i);
    return -1;
}

int TorsoAnimator::random(int n) {
    // A small linear congruential generator: the torso's own, so tests can seed it.
    random_ = random_ * 1103515245u + 12345u;
    return static_cast<int>((random_ >> 16) & 0x7FFF) % n;
}

void TorsoAnimator::updateMood(const FaceGeometry& g, double t) {
    // Mouth history of the last 0.8 s.
    if (mouthCount_ == kMouthHistory) {
        mouthFirst_ = (mouthFirst_ + 1) % kMouthHistory;
        --mouthCount_;
    }
    const int slot = (mouthFirst_ + mouthCount_) % kMouthHistory;
    mouthTime_[slot] = t;
    mouthOpen_[slot] = g.mouthOpen;
    ++mouthCount_;
    while (mouthCount_ > 0 && t - mouthTime_[mouthFirst_] > 0.8) {
        mouthFirst_ = (mouthFirst_ + 1) % kMouthHistory;
        --mouthCount_;
    }

    // Brows raised against their slow baseline.
    const double eyes =
        std::max<double>(std::hypot(g.rightEye.x - g.leftEye.x, g.rightEye.y - g.leftEye.y), 1);
    const double brows = (std::hypot(g.rightBrow.x - g.rightEye.x, g.rightBrow.y - g.rightEye.y) +
                          std::hypot(g.leftBrow.x - g.leftEye.x, g.leftBrow.y - g.leftEye.y)) /
                         2 / eyes;
    if (browBaseline_ < 0) browBaseline_ = brows;
    if (brows > 1.15 * browBaseline_) {
        if (raisedSince_ < 0) raisedSince_ = t;
    } else {
        raisedSince_ = -1;
        browBaseline_ += (brows - browBaseline_) * 0.02;
    }

    // A smile: the mouth wider than usual.
    const double smile = g.mouthWidth / eyes;
    if (smileBaseline_ < 0) smileBaseline_ = smile;
    if (smile > 1.12 * smileBaseline_) {
        if (smileSince_ < 0) smileSince_ = t;
    } else {
        smileSince_ = -1;
        if (g.mouthOpen < 0.08f) smileBaseline_ += (smile - smileBaseline_) * 0.02;
    }

    // A tilted head.
    if (std::fabs(g.roll) > 0.2f) {
        if (tiltSince_ < 0) tiltSince_ = t;
    } else {
        tiltSince_ = -1;
    }
}

bool TorsoAnimator::available(int clip, double t) const {
    return clip >= 0 && t - lastStarted_[clip] > 3;
}

int TorsoAnimator::chooseGesture(double t) {
    if (!def_) return -1;
    if (((tiltSince_ >= 0 && t - tiltSince_ >= 0.5) || (raisedSince_ >= 0 && t - raisedSince_ >= 0.3)) &&
        available(shrug_, t))
        return shrug_;
    if (smileSince_ >= 0 && t - smileSince_ >= 0.4 && available(celebrate_, t)) return celebrate_;

    float lowest = 1e30f, highest = -1e30f;
    for (int i = 0; i < mouthCount_; ++i) {
        const float v = mouthOpen_[(mouthFirst_ + i) % kMouthHistory];
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    if (mouthCount_ == 0 || !(highest - lowest > 0.05f)) return -1;

    // Talking: explain and count, else point too, else anything but idle.
    constexpr int kMost = kMostTorsoClips;
    int candidates[kMost];
    int n = 0;
    for (int c : {explain_, count_})
        if (c >= 0) candidates[n++] = c;
    if (n < 2 && point_ >= 0) candidates[n++] = point_;
    if (n == 0)
        for (int c = 0; c < static_cast<int>(def_->clips.size()) && n < kMost; ++c)
            if (c != idle_) candidates[n++] = c;
    if (n == 0) return -1;
    if (n >= 2) {
        int kept = 0;
        for (int i = 0; i < n; ++i)
            if (candidates[i] != lastGesture_) candidates[kept++] = candidates[i];
        n = kept;
    }
    lastGesture_ = candidates[random(n)];
    return lastGesture_;
}

TorsoFrame TorsoAnimator::frameAt(double t) {
    TorsoFrame out;
    if (!def_ || def_->clips.empty()) return out;
    const int clipCount = static_cast<int>(def_->clips.size());
    const auto framesOf = [&](int clip) { return clip >= 0 ? def_->clips[clip].frames : 0; };
    const int n = framesOf(current_);
    // The frame of the current clip; a clip not started counts as ended.
    int f = n;
    if (start_ >= 0) {
        const double elapsed = std::floor((t - start_) * def_->fps);
        f = static_cast<int>(std::clamp(elapsed, -1.0, static_cast<double>(n)));
    }
    const auto startClip = [&](int clip) {
        current_ = clip;
        start_ = t;
        f = 0;
    };

    if (def_->activity) {
        if (!(f < n)) {
            int pick = random(clipCount > 1 && current_ >= 0 ? clipCount - 1 : clipCount);
            if (clipCount > 1 && current_ >= 0 && pick >= current_) ++pick;
            startClip(pick);
        }
    } else {
        const bool cutIn = f >= n || (current_ == idle_ && current_ >= 0 && f >= 0 && f < n &&
                                      def_->clips[current_].exits[f]);
        if (cutIn) {
            const int gesture = chooseGesture(t);
            if (gesture >= 0) {
                lastStarted_[gesture] = t;
                startClip(gesture);
            } else if (f >= n) {
                startClip(idle_ >= 0 ? idle_ : 0);  // idle, else the first clip by name
            }
        }
    }
    if (current_ < 0) return out;
    const int frames = def_->clips[current_].frames;
    out.clip = current_;
    out.frame = std::clamp(f, 0, frames - 1);
    out.column = out.frame % def_->cols;
    out.row = out.frame / def_->cols;
    return out;
}

}  // namespace qm
