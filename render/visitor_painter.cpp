#include "render/visitor_painter.h"

#include <algorithm>
#include <cmath>

#include "base/log.h"
#include "platform/file_read.h"
#include "render/affine_blit.h"
#include "render/pictures.h"

namespace qm {

namespace {

// The whole file, or false when it is not a regular file, cannot be read or is too long to be a visitor file
// (a pipe or a device in its place would hold the load, and with it the engine's shutdown, for ever).
bool readVisitorFile(const std::string& path, std::string* text) {
    std::vector<uint8_t> bytes;
    if (readRegularFile(path, kLongestVisitorFile, &bytes) != FileRead::Ok) return false;
    text->assign(bytes.begin(), bytes.end());
    return true;
}

}  // namespace

std::unique_ptr<LoadedVisitor> loadVisitor(const std::string& assetFolder, const std::string& name) {
    std::string json;
    if (!readVisitorFile(assetFolder + "visitor_" + name + ".json", &json)) {
        logLine("visitor %s: no json", name.c_str());
        return nullptr;
    }
    auto visitor = std::make_unique<LoadedVisitor>();
    visitor->def = parseVisitor(name, json);
    const VisitorDef& def = visitor->def;
    bool readable = visitorUsable(def);
    if (readable) {
        Picture sheet;
        double needW = 0, needH = 0;
        visitorSheetNeeded(def, &needW, &needH);
        readable = !failed(loadPicture(assetFolder + "visitor_" + name + ".png", false, &sheet)) &&
                   cairo_image_surface_get_width(sheet.bitmap.get()) + 0.5 >= needW &&
                   cairo_image_surface_get_height(sheet.bitmap.get()) + 0.5 >= needH;
        if (readable) {
            visitor->cells = cutSpriteCells(sheet.bitmap.get(), def.frameW, def.frameH, def.cols, def.count);
            readable = visitor->cells.size() == static_cast<size_t>(def.count);
        }
    }
    if (!readable) {
        logLine("visitor %s: cannot read it", name.c_str());
        return nullptr;
    }
    logLine("visitor %s: %d frames, %.0f x %.0f%s", name.c_str(), def.count, static_cast<double>(def.frameW),
            static_cast<double>(def.frameH), def.glide >= 0 ? ", glides" : "");
    return visitor;
}

VisitorPainter::~VisitorPainter() {
    release();
}

void VisitorPainter::choose(const std::string& assetFolder, const std::string& name) {
    current_.reset();
    start_ = -1;
    last_ = {};
    name_ = name;
    load_.drop();
    if (name.empty()) return;
    load_.start([assetFolder, name] { return loadVisitor(assetFolder, name); });
}

bool VisitorPainter::poll() {
    if (load_.take(&current_)) start_ = -1;
    return loaded();
}

bool VisitorPainter::waitUntilLoaded() {
    if (load_.wait(&current_)) start_ = -1;
    return loaded();
}

void VisitorPainter::release() {
    current_.reset();
    load_.drop();
    name_.clear();
    start_ = -1;
    last_ = {};
}

void VisitorPainter::draw(Graphics& g, const FrameFilters& filters, double timeMs) {
    last_.visible = false;
    if (!poll()) return;
    if (start_ < 0) start_ = timeMs;
    const VisitorDef& def = current_->def;
    last_ = visitorAt(def, filters.visitorFit, filters.visitorEvery, filters.ghost, g.sourceWidth,
                      g.sourceHeight, timeMs - start_);
    const VisitorPlacement& p = last_;
    if (!p.visible) return;

    cairo_t* cr = g.cr.get();
    cairo_matrix_t cover;
    cairo_get_matrix(cr, &cover);

    // The window's area on the canvas (the cover transform only scales and moves).
    BlitShape shape;
    if (p.clipped) {
        double x0 = p.clipLeft, y0 = p.clipTop, x1 = p.clipRight, y1 = p.clipBottom;
        cairo_matrix_transform_point(&cover, &x0, &y0);
        cairo_matrix_transform_point(&cover, &x1, &y1);
        shape.clipLeft = static_cast<int>(std::lround(std::clamp(std::min(x0, x1), -1.0, 1e6)));
        shape.clipRight = static_cast<int>(std::lround(std::clamp(std::max(x0, x1), -1.0, 1e6)));
        shape.clipTop = static_cast<int>(std::lround(std::clamp(std::min(y0, y1), -1.0, 1e6)));
        shape.clipBottom = static_cast<int>(std::lround(std::clamp(std::max(y0, y1), -1.0, 1e6)));
    }

    if (p.shadow) {
        if (!shadow_) {
            shadow_.reset(cairo_pattern_create_radial(0, 0, 0, 0, 0, 1));
            cairo_pattern_add_color_stop_rgba(shadow_.get(), 0, 0, 0, 0, 0.42);
            cairo_pattern_add_color_stop_rgba(shadow_.get(), 1, 0, 0, 0, 0);
        }
        cairo_save(cr);
        if (p.clipped) {
            cairo_rectangle(cr, p.clipLeft, p.clipTop, p.clipRight - p.clipLeft, p.clipBottom - p.clipTop);
            cairo_clip(cr);
        }
        cairo_translate(cr, p.shadowX, p.shadowY);
        cairo_scale(cr, p.shadowRx, p.shadowRy);
        cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
        cairo_clip(cr);
        cairo_set_source(cr, shadow_.get());
        cairo_paint_with_alpha(cr, p.opacity);
        cairo_restore(cr);
    }

    const SpriteCell& cell = current_->cells[static_cast<size_t>(p.frame)];
    if (!cell.picture) return;
    cairo_matrix_t toSource;
    cairo_matrix_init(&toSource, p.scale, 0, 0, p.scale, p.left + cell.x * p.scale, p.top + cell.y * p.scale);
    cairo_matrix_t toCanvas;
    cairo_matrix_multiply(&toCanvas, &toSource, &cover);
    if (p.opacity < 1) {
        shape.fade[2] = 1;
        shape.fadeDepth = 1 - p.opacity;
    }
    cairo_surface_flush(g.canvas.get());
    drawPictureAffine(g.canvas.get(), cell.picture.get(), toCanvas, &shape, cell.spans.data());
    cairo_surface_mark_dirty(g.canvas.get());
}

}  // namespace qm
