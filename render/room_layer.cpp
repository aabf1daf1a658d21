#include "render/room_layer.h"

#include <algorithm>
#include <cmath>

#include "base/row_helper.h"

namespace qm {

HeadEllipse headEllipse(const SmoothedAnchors& s, float headScale) {
    return {s.centreX, s.centreY, 0.62 * s.faceWidth * headScale, 0.86 * s.faceWidth * headScale, s.roll};
}

namespace {

// The ellipse's r² along a row, as the quadratic a·dx² + b·dx + c in the offset dx from the centre, with
// b = dy·bPerRow and c = dy²·cPerRow for the row's offset dy; the terms depend only on the ellipse.
struct RowQuadratic {
    double a, bPerRow, cPerRow;
};

RowQuadratic rowQuadratic(const HeadEllipse& e) {
    const double c = std::cos(e.angle), s = std::sin(e.angle);
    const double rx2 = e.radiusX * e.radiusX, ry2 = e.radiusY * e.radiusY;
    return {c * c / rx2 + s * s / ry2, 2 * c * s * (1 / rx2 - 1 / ry2), s * s / rx2 + c * c / ry2};
}

// The columns of row offset dy (from the centre) where the ellipse's r² may lie below k: outside
// [from, to) it is k or more. The quadratic's roots are widened by a pixel against rounding.
bool columnsBelow(const RowQuadratic& q, double centreX, double dy, double k, int* from, int* to) {
    const double b = dy * q.bPerRow, c = dy * dy * q.cPerRow - k;
    const double disc = b * b - 4 * q.a * c;
    if (!(disc >= 0)) return false;
    const double root = std::sqrt(disc);
    // Pixel x has its centre at dx = x + 0.5 - centreX.
    const double left = (-b - root) / (2 * q.a) + centreX - 0.5,
                 right = (-b + root) / (2 * q.a) + centreX - 0.5;
    if (!(std::fabs(left) < 1e9 && std::fabs(right) < 1e9)) return false;
    *from = static_cast<int>(std::floor(left)) - 1;
    *to = static_cast<int>(std::ceil(right)) + 2;
    return true;
}

}  // namespace

void fadeToHeadEllipse(uint8_t* data, int stride, const PixelBox& box, const HeadEllipse& e) {
    const double cosA = std::cos(e.angle), sinA = std::sin(e.angle);
    const RowQuadratic quadratic = rowQuadratic(e);
    auto fade = [&](uint32_t* row, double dy, int from, int to) {
        for (int x = from; x < to; ++x) {
            const double dx = x + 0.5 - e.centreX;
            const double u = (dx * cosA + dy * sinA) / e.radiusX, v = (-dx * sinA + dy * cosA) / e.radiusY;
            const double r2 = u * u + v * v;
            if (r2 <= 0.64) continue;
            const uint32_t a = r2 >= 1 ? 0 : static_cast<uint32_t>((1 - std::sqrt(r2)) * 5 * 256 + 0.5);
            const uint32_t p = row[x];
            row[x] = ((((p & 0x00FF00FFu) * a) >> 8) & 0x00FF00FFu) |
                     ((((p >> 8) & 0x00FF00FFu) * a) & 0xFF00FF00u);
        }
    };
    forRows(box.y0, box.y1, box.x1 - box.x0, [&](int firstRow, int endRow, int) {
        for (int y = firstRow; y < endRow; ++y) {
            uint32_t* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
            const double dy = y + 0.5 - e.centreY;
            // Only the ring is worked out pixel by pixel: beyond it the row is cleared, inside it kept.
            int outerFrom = 0, outerTo = 0, innerFrom = 0, innerTo = 0;
            if (!columnsBelow(quadratic, e.centreX, dy, 1.01, &outerFrom, &outerTo))
                outerFrom = outerTo = box.x0;
            outerFrom = std::clamp(outerFrom, box.x0, box.x1);
            outerTo = std::clamp(outerTo, outerFrom, box.x1);
            std::fill(row + box.x0, row + outerFrom, 0u);
            std::fill(row + outerTo, row + box.x1, 0u);
            if (columnsBelow(quadratic, e.centreX, dy, 0.63, &innerFrom, &innerTo)) {
                // Kept for certain: the columns well inside the inner radius.
                innerFrom = std::clamp(innerFrom + 3, outerFrom, outerTo);
                innerTo = std::clamp(innerTo - 3, innerFrom, outerTo);
            } else {
                innerFrom = innerTo = outerTo;
            }
            fade(row, dy, outerFrom, innerFrom);
            fade(row, dy, innerTo, outerTo);
        }
    });
}

void RoomLayer::applyRequests(const Graphics& g, const RoomRequests& requests) {
    if (requests.forgetLearned) forgetPending_ = true;
    if (requests.forget) captured_.reset();
    if (requests.capture) {
        captured_.reset();
        SurfacePtr copy(cairo_image_surface_create(CAIRO_FORMAT_RGB24, g.sourceWidth, g.sourceHeight));
        bool ok = checkSurface(copy.get()) == kOk;
        if (ok) {
            ContextPtr c(cairo_create(copy.get()));
            cairo_set_operator(c.get(), CAIRO_OPERATOR_SOURCE);
            cairo_set_source_surface(c.get(), g.source.get(), 0, 0);
            cairo_paint(c.get());
            ok = cairo_status(c.get()) == CAIRO_STATUS_SUCCESS;
        }
        if (ok) captured_ = std::move(copy);
    }
    if (captured_ && (cairo_image_surface_get_width(captured_.get()) != g.sourceWidth ||
                      cairo_image_surface_get_height(captured_.get()) != g.sourceHeight))
        captured_.reset();
}

void RoomLayer::learn(const Graphics& g, const uint8_t* framePixels, int frameStride) {
    const RoomFrame frame{framePixels, g.sourceWidth, g.sourceHeight, frameStride, g.maskBuffer.data()};
    const bool forget = forgetPending_;
    forgetPending_ = false;
    if (learnRoom(plate_, frame, forget) || !learned_) {
        learned_.reset();
        if (plate_.output.empty()) return;
        SurfacePtr bitmap(cairo_image_surface_create_for_data(plate_.output.data(), CAIRO_FORMAT_RGB24,
                                                              plate_.width, plate_.height, plate_.width * 4));
        if (checkSurface(bitmap.get()) != kOk) return;  // nothing more this frame; the next one tries again
        learned_ = std::move(bitmap);
    }
    cairo_surface_mark_dirty(learned_.get());
}

cairo_surface_t* RoomLayer::room() const {
    if (captured_) return captured_.get();
    return learned_.get();
}

void RoomLayer::drawHeadCutout(Graphics& g, const SmoothedAnchors& s, float headScale,
                               const cairo_matrix_t& placement) {
    const HeadEllipse e = headEllipse(s, headScale);
    if (!(e.radiusX > 0.5) || !(e.radiusY > 0.5) || !std::isfinite(e.centreX) || !std::isfinite(e.centreY) ||
        !std::isfinite(e.angle))
        return;
    // The ellipse's box in source pixels: only there is the head made and drawn.
    const double c = std::fabs(std::cos(e.angle)), sn = std::fabs(std::sin(e.angle));
    const double halfW = e.radiusX * c + e.radiusY * sn, halfH = e.radiusX * sn + e.radiusY * c;
    PixelBox box{static_cast<int>(std::floor(std::max(e.centreX - halfW, -1.0))),
                 static_cast<int>(std::floor(std::max(e.centreY - halfH, -1.0))),
                 static_cast<int>(std::ceil(std::min(e.centreX + halfW, g.sourceWidth + 1.0))),
                 static_cast<int>(std::ceil(std::min(e.centreY + halfH, g.sourceHeight + 1.0)))};
    box.x0 = std::clamp(box.x0, 0, g.sourceWidth);
    box.y0 = std::clamp(box.y0, 0, g.sourceHeight);
    box.x1 = std::clamp(box.x1, box.x0, g.sourceWidth);
    box.y1 = std::clamp(box.y1, box.y0, g.sourceHeight);
    if (box.x1 <= box.x0 || box.y1 <= box.y0) return;
    cairo_pattern_t* person = buildPersonLayer(g.source.get(), g.maskBuffer.data(), head_, &box);
    if (!person) return;

    // The soft ellipse (opaque to 0.8 of its radius, fading linearly to clear at the radius, as the
    // graphics' soft-ellipse brush) laid straight into the head's pixels.
    cairo_surface_t* layer = head_.surface.get();
    fadeToHeadEllipse(cairo_image_surface_get_data(layer), cairo_image_surface_get_stride(layer), box, e);
    cairo_surface_mark_dirty_rectangle(layer, box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0);

    cairo_t* cr = g.cr.get();
    cairo_save(cr);
    cairo_set_matrix(cr, &placement);
    cairo_rectangle(cr, box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0);
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source(cr, person);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace qm
