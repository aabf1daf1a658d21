#include "tracking/room_plate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qm {

namespace {

constexpr int kCells = kRoomMaskWidth * kRoomMaskHeight;
// A mask byte of 77 or more is a probability above 0.3: person.
constexpr uint8_t kPersonByte = 77;

// One pass of a centred 7-sample box along rows or along columns, the edge value repeated beyond it.
void boxPass(float* data, int width, int height, int channels, bool alongRows, std::vector<float>& scratch) {
    const int length = alongRows ? width : height, lines = alongRows ? height : width;
    const int step = (alongRows ? 1 : width) * channels, lineStep = (alongRows ? width : 1) * channels;
    scratch.resize(static_cast<size_t>(length) * channels);
    for (int line = 0; line < lines; ++line) {
        float* first = data + static_cast<size_t>(line) * lineStep;
        for (int c = 0; c < channels; ++c) {
            float sum = 0;
            for (int i = -3; i <= 3; ++i)
                sum += first[std::clamp(i, 0, length - 1) * step + c];
            for (int i = 0; i < length; ++i) {
                scratch[static_cast<size_t>(i) * channels + c] = sum / 7;
                sum += first[std::min(i + 4, length - 1) * step + c] - first[std::max(i - 3, 0) * step + c];
            }
        }
        for (int i = 0; i < length; ++i)
            for (int c = 0; c < channels; ++c)
                first[i * step + c] = scratch[static_cast<size_t>(i) * channels + c];
    }
}

void reset(RoomPlate& r, int frameWidth, int frameHeight) {
    r.frameWidth = frameWidth;
    r.frameHeight = frameHeight;
    r.width = std::max(1, frameWidth / 2);
    r.height = std::max(1, frameHeight / 2);
    r.gridColumns = std::max(2, frameWidth / 32);
    r.gridRows = std::max(2, frameHeight / 32);
    const size_t pixels = static_cast<size_t>(r.width) * r.height;
    r.plate.assign(pixels * 4, 0);
    r.known.assign(pixels, 0);
    r.output.assign(pixels * 4, 0);
    r.seen.assign(kCells, 0);
    for (auto& map : r.history)
        map.assign(kCells, 0);
    r.frames = 0;
    for (auto* map : {&r.person, &r.near, &r.far, &r.steady, &r.spread})
        map->assign(kCells, 0);
    r.coverage.assign(kCells, 0);
    r.grid.assign(static_cast<size_t>(r.gridColumns) * r.gridRows * 4, 0);
    r.coverageRow.assign(kRoomMaskWidth, 0);
    r.fillRow.assign(static_cast<size_t>(r.gridColumns) * 4, 0);
    r.blurScratch.reserve(std::max({kRoomMaskWidth, kRoomMaskHeight, r.gridColumns, r.gridRows}) * 4);
    // What each plate column reads: its mask cell and the bilinear positions in the coverage and grid.
    r.cellColumn.resize(r.width);
    r.coverageColumn.resize(r.width);
    r.coverageColumnWeight.resize(r.width);
    r.gridColumn.resize(r.width);
    r.gridColumnWeight.resize(r.width);
    for (int x = 0; x < r.width; ++x) {
        r.cellColumn[x] = std::min(x * kRoomMaskWidth / r.width, kRoomMaskWidth - 1);
        const double u = std::clamp((x + 0.5) * kRoomMaskWidth / r.width - 0.5, 0.0, kRoomMaskWidth - 1.001);
        r.coverageColumn[x] = static_cast<int>(u);
        r.coverageColumnWeight[x] = static_cast<float>(u - std::floor(u));
        const double g = std::clamp((x + 0.5) * r.gridColumns / r.width - 0.5, 0.0, r.gridColumns - 1.001);
        r.gridColumn[x] = static_cast<int>(g);
        r.gridColumnWeight[x] = static_cast<float>(g - std::floor(g));
    }
}

}  // namespace

void dilate(const uint8_t* in, uint8_t* out, int width, int height, int across, int down, uint8_t* scratch) {
    // Along rows: a running count of ones in the window.
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = in + static_cast<size_t>(y) * width;
        uint8_t* to = scratch + static_cast<size_t>(y) * width;
        int count = 0;
        for (int x = 0; x <= std::min(across, width - 1); ++x)
            count += row[x] != 0;
        for (int x = 0; x < width; ++x) {
            to[x] = count > 0;
            if (x + across + 1 < width) count += row[x + across + 1] != 0;
            if (x - across >= 0) count -= row[x - across] != 0;
        }
    }
    // Along columns, on that result.
    for (int x = 0; x < width; ++x) {
        int count = 0;
        for (int y = 0; y <= std::min(down, height - 1); ++y)
            count += scratch[static_cast<size_t>(y) * width + x];
        for (int y = 0; y < height; ++y) {
            out[static_cast<size_t>(y) * width + x] = count > 0;
            if (y + down + 1 < height) count += scratch[static_cast<size_t>(y + down + 1) * width + x];
            if (y - down >= 0) count -= scratch[static_cast<size_t>(y - down) * width + x];
        }
    }
}

bool learnRoom(RoomPlate& r, const RoomFrame& frame, bool forget) {
    const int W = frame.width, H = frame.height;
    if (W <= 0 || H <= 0 || !frame.pixels || !frame.mask) return false;
    const bool remade = forget || W != r.frameWidth || H != r.frameHeight;
    if (remade) reset(r, W, H);

    // 2. The person, near it and far around it, on the mask grid.
    for (int i = 0; i < kCells; ++i)
        r.person[i] = frame.mask[i * 4] >= kPersonByte;
    dilate(r.person.data(), r.near.data(), kRoomMaskWidth, kRoomMaskHeight, 7, 7, r.spread.data());
    dilate(r.person.data(), r.far.data(), kRoomMaskWidth, kRoomMaskHeight, 28, 14, r.spread.data());

    // 3. Room in each of the last k frames (k grows 1, 2, 3 after a reset) counts as seen, for good.
    uint8_t* newest = r.history[r.frames % 3].data();
    for (int i = 0; i < kCells; ++i)
        newest[i] = !r.near[i];
    r.frames += 1;
    const int k = std::min(r.frames, 3);
    for (int i = 0; i < kCells; ++i) {
        bool steady = true;
        for (int j = 0; j < k; ++j)
            steady = steady && r.history[(r.frames - 1 - j) % 3][i];
        r.steady[i] = steady;
        if (steady) r.seen[i] = 1;
    }

    // 4. Coverage: the seen map softened.
    std::memcpy(r.coverage.data(), r.seen.data(), kCells * sizeof(float));
    for (int pass = 0; pass < 4; ++pass)
        boxPass(r.coverage.data(), kRoomMaskWidth, kRoomMaskHeight, 1, pass % 2 == 0, r.blurScratch);

    // 5. The colour field: four room samples a cell, blurred wide.
    const int G = r.gridColumns, R = r.gridRows;
    std::fill(r.grid.begin(), r.grid.end(), 0.0f);
    static constexpr float kFractions[4][2] = {
        {0.25f, 0.25f}, {0.75f, 0.25f}, {0.25f, 0.75f}, {0.75f, 0.75f}};
    for (int gy = 0; gy < R; ++gy) {
        for (int gx = 0; gx < G; ++gx) {
            float* cell = &r.grid[(static_cast<size_t>(gy) * G + gx) * 4];
            for (const auto& f : kFractions) {
                const int x = std::clamp(static_cast<int>((gx + f[0]) * W / G), 0, W - 1);
                const int y = std::clamp(static_cast<int>((gy + f[1]) * H / R), 0, H - 1);
                const int cx = std::min(x * kRoomMaskWidth / W, kRoomMaskWidth - 1);
                const int cy = std::min(y * kRoomMaskHeight / H, kRoomMaskHeight - 1);
                if (r.near[cy * kRoomMaskWidth + cx]) continue;
                const uint8_t* p = frame.pixels + static_cast<size_t>(y) * frame.stride + x * 4;
                cell[0] += p[0];
                cell[1] += p[1];
                cell[2] += p[2];
                cell[3] += 1;
            }
        }
    }
    for (int pass = 0; pass < 6; ++pass)
        boxPass(r.grid.data(), G, R, 4, pass % 2 == 0, r.blurScratch);

    // 6. Learn each plate pixel and blend the plate over the field by coverage. The coverage and the field
    // are interpolated down the rows once per plate row, so a pixel only interpolates across.
    const int w = r.width, h = r.height;
    float* coverageRow = r.coverageRow.data();
    float* fillRow = r.fillRow.data();
    for (int y = 0; y < h; ++y) {
        const int cy = std::min(y * kRoomMaskHeight / h, kRoomMaskHeight - 1);
        const int fy = std::min(2 * y, H - 1);
        const double v = std::clamp((y + 0.5) * kRoomMaskHeight / h - 0.5, 0.0, kRoomMaskHeight - 1.001);
        const int v0 = static_cast<int>(v);
        const float vw = static_cast<float>(v - v0);
        const float* cov0 = &r.coverage[v0 * kRoomMaskWidth];
        const float* cov1 = &r.coverage[(v0 + 1) * kRoomMaskWidth];
        for (int i = 0; i < kRoomMaskWidth; ++i)
            coverageRow[i] = cov0[i] * (1 - vw) + cov1[i] * vw;
        const double gv = std::clamp((y + 0.5) * R / h - 0.5, 0.0, R - 1.001);
        const int g0 = static_cast<int>(gv);
        const float gw = static_cast<float>(gv - g0);
        const float* grid0 = &r.grid[static_cast<size_t>(g0) * G * 4];
        const float* grid1 = &r.grid[static_cast<size_t>(g0 + 1) * G * 4];
        for (int i = 0; i < G * 4; ++i)
            fillRow[i] = grid0[i] * (1 - gw) + grid1[i] * gw;
        const uint8_t* steadyRow = &r.steady[cy * kRoomMaskWidth];
        const uint8_t* farRow = &r.far[cy * kRoomMaskWidth];
        const uint8_t* frameRow = frame.pixels + static_cast<size_t>(fy) * frame.stride;
        uint8_t* plate = &r.plate[static_cast<size_t>(y) * w * 4];
        uint8_t* known = &r.known[static_cast<size_t>(y) * w];
        uint8_t* out = &r.output[static_cast<size_t>(y) * w * 4];
        for (int x = 0; x < w; ++x) {
            const int cx = r.cellColumn[x];
            if (steadyRow[cx]) {
                const uint8_t* p = frameRow + std::min(2 * x, W - 1) * 4;
                if (!farRow[cx] || 0.3f * p[2] + 0.6f * p[1] + 0.1f * p[0] >= kRoomDarkLimit) {
                    std::memcpy(plate + x * 4, p, 4);
                    known[x] = 1;
                }
            }
            float f = 0;
            if (known[x]) {
                const int u0 = r.coverageColumn[x];
                const float uw = r.coverageColumnWeight[x];
                const float cov = coverageRow[u0] * (1 - uw) + coverageRow[u0 + 1] * uw;
                const float t = std::clamp((cov - 0.5f) / 0.48f, 0.0f, 1.0f);
                f = t * t * (3 - 2 * t);
            }
            uint8_t* o = out + x * 4;
            if (f > 0.995f) {
                std::memcpy(o, plate + x * 4, 4);
                o[3] = 255;
                continue;
            }
            // Four lanes at once (the count rides along in the fourth and is overwritten).
            const float* a = fillRow + r.gridColumn[x] * 4;
            const float aw = r.gridColumnWeight[x];
            float fill[4], value[4];
            for (int c = 0; c < 4; ++c)
                fill[c] = a[c] * (1 - aw) + a[4 + c] * aw;
            const float k = (1 - f) / std::max(fill[3], 0.02f);
            for (int c = 0; c < 4; ++c)
                value[c] = std::min(std::max(plate[x * 4 + c] * f + fill[c] * k, 0.0f), 255.0f);
            for (int c = 0; c < 3; ++c)
                o[c] = static_cast<uint8_t>(value[c]);
            o[3] = 255;
        }
    }
    return remade;
}

}  // namespace qm
