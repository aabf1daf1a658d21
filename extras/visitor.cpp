#include "extras/visitor.h"

#include <algorithm>
#include <cmath>

#include "extras/json_lookup.h"

namespace qm {

namespace {

bool finite(double v) {
    return std::isfinite(v);
}

// The "feet" block: per element either null or [x, y, size]; anything else is skipped.
std::vector<VisitorFeet> readFeet(std::string_view block) {
    std::vector<VisitorFeet> feet;
    std::vector<double> numbers;
    size_t at = 0;
    while (at < block.size() && feet.size() < static_cast<size_t>(kMostVisitorFrames)) {
        const char c = block[at];
        if (c == 'n') {
            feet.push_back({});
            at += 4;
        } else if (c == '[') {
            const size_t close = block.find(']', at + 1);
            const size_t end = close == std::string_view::npos ? block.size() : close;
            jsonNumbers(block.substr(at + 1, end - at - 1), &numbers);
            VisitorFeet f;
            // A foot that is not a finite place on a sensible scale casts no shadow.
            if (numbers.size() == 3 && std::all_of(numbers.begin(), numbers.end(), [](double v) {
                    return finite(v) && std::fabs(v) <= 1e6;
                })) {
                f = {static_cast<float>(numbers[0]), static_cast<float>(numbers[1]),
                     static_cast<float>(numbers[2]), true};
            }
            feet.push_back(f);
            at = end + 1;
        } else {
            ++at;
        }
    }
    return feet;
}

}  // namespace

VisitorDef parseVisitor(std::string_view name, std::string_view json) {
    VisitorDef def;
    def.name = std::string(name);
    // Sizes stay as read (capped so float holds them) and visitorUsable judges them.
    const double frameW = jsonNumber(json, "frameW", 0), frameH = jsonNumber(json, "frameH", 0);
    def.frameW = finite(frameW) ? static_cast<float>(std::clamp(frameW, -1e9, 1e9)) : 0;
    def.frameH = finite(frameH) ? static_cast<float>(std::clamp(frameH, -1e9, 1e9)) : 0;
    const double cols = jsonNumber(json, "cols", 8);
    def.cols = cols >= 1 ? static_cast<int>(std::min(cols, 1e6)) : 1;  // NaN and ≤ 0 give 1
    const double count = jsonNumber(json, "count", 0);
    def.count = count >= 1 ? static_cast<int>(std::min(count, 1e9)) : 0;
    const double fps = jsonNumber(json, "fps", 15);
    def.fps = std::isnan(fps) ? 15 : std::clamp(fps, 1.0, kFastestVisitorFps);
    def.window = jsonFlag(json, "window");
    const double glide = jsonNumber(json, "glide", -1);
    def.glide =
        std::isnan(glide) || glide < 0 ? -1 : static_cast<float>(std::min(glide, kWidestVisitorGlide));

    const int lastFrame = std::max(def.count - 1, 1);
    const double freeze = jsonNumber(json, "freeze", def.count - 1);
    def.freeze = std::isnan(freeze)
                     ? lastFrame
                     : static_cast<int>(std::clamp(std::trunc(freeze), 1.0, double(lastFrame)));

    const std::vector<double> box = jsonNumbers(jsonBlock(json, "box", '[', ']'));
    if (box.size() == 2 && box[1] > 0 && finite(box[0]) && finite(box[1]) && std::fabs(box[0]) <= 1e6 &&
        box[1] <= 1e6) {
        def.bx = static_cast<float>(box[0]);
        def.bw = static_cast<float>(box[1]);
    }

    // The per-frame lists always hold one entry per frame (those of a refused visitor are never read).
    const size_t frames = static_cast<size_t>(std::min(def.count, kMostVisitorFrames));
    const std::vector<double> cx = jsonNumbers(jsonBlock(json, "cx", '[', ']'));
    def.cx.assign(frames, 0);
    for (size_t i = 0; i < frames && i < cx.size(); ++i)
        if (finite(cx[i]) && std::fabs(cx[i]) <= 1e6) def.cx[i] = static_cast<float>(cx[i]);
    def.feet = readFeet(jsonBlock(json, "feet", '[', ']'));
    def.feet.resize(frames);
    return def;
}

bool visitorUsable(const VisitorDef& def) {
    return def.count >= 1 && def.count <= kMostVisitorFrames && def.frameW >= 1 && def.frameH >= 1 &&
           def.frameW <= kLargestVisitorCell && def.frameH <= kLargestVisitorCell &&
           def.cx.size() == static_cast<size_t>(def.count) &&
           def.feet.size() == static_cast<size_t>(def.count);
}

void visitorSheetNeeded(const VisitorDef& def, double* width, double* height) {
    const int columns = std::min(def.cols, std::max(def.count, 1));
    const int rows = (std::max(def.count, 1) + def.cols - 1) / def.cols;
    *width = columns * static_cast<double>(def.frameW);
    *height = rows * static_cast<double>(def.frameH);
}

namespace {

int holdFrames(const VisitorDef& def) {
    return def.glide >= 0 ? static_cast<int>(std::floor(0.8 * def.fps)) : 0;
}
int totalFrames(const VisitorDef& def) {
    return def.glide >= 0 ? 2 * def.count + holdFrames(def) : def.count;
}

}  // namespace

double visitorDuration(const VisitorDef& def) {
    return totalFrames(def) / def.fps;
}

double visitorPeriod(const VisitorDef& def, double every) {
    return std::max(finite(every) ? every : 15.0, visitorDuration(def));
}

VisitorPlacement visitorAt(const VisitorDef& def, const Fit& fit, double every, bool ghost, double W,
                           double H, double elapsedMs) {
    VisitorPlacement p;
    if (!visitorUsable(def) || !(W >= 1) || !(H >= 1) || !finite(elapsedMs) || elapsedMs < 0) return p;
    // Cycle.
    const int d = def.count, hold = holdFrames(def);
    const double period = visitorPeriod(def, every);
    const double j0 = std::floor(std::fmod(elapsedMs / 1000, period) * def.fps);
    if (!(j0 >= 0) || j0 >= totalFrames(def)) return p;
    const int j = static_cast<int>(j0);

    // Frame.
    const bool glides = def.glide >= 0;
    int f = j;
    if (glides) {
        if (j < d)
            f = j;
        else if (j < d + hold)
            f = d - 1;
        else
            f = std::max(2 * d + hold - j - 1, 0);
    }
    f = std::clamp(f, 0, d - 1);

    // Area and fit.
    const double s = fit.scale, fx = fit.x, fy = fit.y;
    if (!finite(s) || !finite(fx) || !finite(fy) || !(s > 0)) return p;
    double g = W, u = 0, y0 = H, A = H;
    if (def.window) {
        g = 0.34 * W;
        u = 0.5 * W - 0.5 * g;
        y0 = 0.5 * H;
        A = g * def.frameH / def.frameW;
    }
    const double vw = s * g, I = 0.5 * g + u - 0.5 * vw + fx * W;
    const double vh = s * A, K = y0 - fy * W - vh;

    // Position and scale.
    double m = I, l = vw / def.frameW;
    if (glides) {
        l = vh / def.frameH;
        // A gliding file without a box glides its whole cell.
        const double bx = def.bw > 0 ? def.bx : 0, bw = def.bw > 0 ? def.bw : def.frameW;
        const double M = l * def.frameW / bw;
        const double o = def.cx[static_cast<size_t>(f)];
        const double rest = -0.2 * W / M;
        const double far = (std::fabs(fx) + 0.5) * W / M + def.glide;
        double O = rest;
        if (j < def.freeze)
            O = (rest + far) * j / def.freeze - far;
        else if (j >= d + hold && f < def.freeze)
            O = (def.freeze - f) * (far - rest) / def.freeze + rest;
        const double h = (O + bx - o) * M;
        m = 0.5 * vw + I - 0.5 * M + h;
    }

    // A placement far beyond the frame (a hostile fit or cell) is not drawn at all.
    const double limit = 64.0 * std::max(W, H);
    const double right = m + def.frameW * l, bottom = K + def.frameH * l;
    if (!finite(m) || !finite(K) || !finite(l) || !(l > 1e-6) || std::fabs(m) > limit ||
        std::fabs(K) > limit || std::fabs(right) > limit || std::fabs(bottom) > limit)
        return p;

    p.visible = true;
    p.frame = f;
    p.column = f % def.cols;
    p.row = f / def.cols;
    p.left = m;
    p.top = K;
    p.scale = l;
    if (def.window) {
        p.clipped = true;
        p.clipLeft = I, p.clipTop = K, p.clipRight = I + vw, p.clipBottom = K + vh;
    }
    p.opacity = ghost ? 0.45f : 1.0f;
    const VisitorFeet& feet = def.feet[static_cast<size_t>(f)];
    if (feet.present) {
        p.shadow = true;
        p.shadowX = l * feet.x + m;
        p.shadowY = l * feet.y + K;
        p.shadowRx = std::max(l * feet.size * 0.55, 8.0);
        p.shadowRy = 0.16 * p.shadowRx;
        if (std::fabs(p.shadowX) > limit || std::fabs(p.shadowY) > limit || p.shadowRx > limit)
            p.shadow = false;
    }
    return p;
}

}  // namespace qm
