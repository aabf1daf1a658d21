#include "render/torso_painter.h"

#include <cmath>
#include <fstream>

#include "base/log.h"
#include "render/affine_blit.h"
#include "render/sprite_cells.h"

namespace qm {

namespace {

// The whole file, or false when it cannot be opened or is too long to be a torso file.
bool readTorsoFile(const std::string& path, std::string* text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<size_t>(size) > kLongestTorsoFile) return false;
    file.seekg(0, std::ios::beg);
    text->resize(static_cast<size_t>(size));
    file.read(text->data(), size);
    return static_cast<bool>(file) || file.gcount() == size;
}

bool usableMatrix(const cairo_matrix_t& m) {
    const double values[] = {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
    for (double v : values)
        if (!std::isfinite(v) || std::fabs(v) > 1e6) return false;
    const double det = m.xx * m.yy - m.xy * m.yx;
    return std::fabs(det) > 1e-8;
}

const std::string kNoClip;

}  // namespace

bool TorsoPainter::choose(const std::string& assetFolder, const std::string& name) {
    release();
    name_ = name;
    if (name.empty()) return false;

    std::string json;
    if (!readTorsoFile(assetFolder + "torso_" + name + ".json", &json)) {
        logLine("torso %s: no json", name.c_str());
        return false;
    }
    TorsoDef def = parseTorso(name, json);
    // Each clip's sheet; a clip whose sheet does not load, or holds fewer cells than its frames, is left out.
    TorsoDef kept = def;
    kept.clips.clear();
    if (def.frameW > 0 && def.frameH > 0 && def.frameW <= kMaxPictureSide && def.frameH <= kMaxPictureSide) {
        for (const TorsoClipDef& clip : def.clips) {
            Picture sheet;
            if (failed(loadPicture(assetFolder + "torso_" + name + "_" + clip.name + ".png", false, &sheet)))
                continue;
            double needW = 0, needH = 0;
            sheetSizeNeeded(def, clip, &needW, &needH);
            if (cairo_image_surface_get_width(sheet.bitmap.get()) + 0.5 < needW ||
                cairo_image_surface_get_height(sheet.bitmap.get()) + 0.5 < needH)
                continue;
            std::vector<SpriteCell> cells =
                cutSpriteCells(sheet.bitmap.get(), def.frameW, def.frameH, def.cols, clip.frames);
            if (cells.empty()) continue;
            kept.clips.push_back(clip);
            cells_.push_back(std::move(cells));
        }
    }
    logLine("torso %s: %d clips, %.0f x %.0f", name.c_str(), static_cast<int>(kept.clips.size()),
            static_cast<double>(def.frameW), static_cast<double>(def.frameH));
    if (!torsoUsable(kept)) {
        cells_.clear();
        return false;
    }
    def_ = std::move(kept);
    animator_.reset(&def_);
    installed_ = true;
    return true;
}

void TorsoPainter::release() {
    installed_ = false;
    cells_.clear();
    def_ = TorsoDef{};
    animator_.reset(nullptr);
    lastClip_ = -1;
}

const std::string& TorsoPainter::lastClip() const {
    return lastClip_ >= 0 ? def_.clips[lastClip_].name : kNoClip;
}

void TorsoPainter::draw(Graphics& g, const FrameFilters& filters, const TorsoFace& kind,
                        const FaceGeometry& face, const SmoothedAnchors& s, double timeMs,
                        cairo_matrix_t* placement) {
    if (!installed_) return;
    const double t = timeMs / 1000;
    animator_.updateMood(face, t);

    const TorsoAnchors a{s.centreX, s.centreY, s.eyeMidX, s.eyeMidY, s.faceWidth, s.eyeDistance, s.roll};
    const Affine2 cell = placeTorso(def_, kind.kitten, kind.kittenWidth, kind.kittenHeight, a,
                                    {filters.torsoFit.scale, filters.torsoFit.x, filters.torsoFit.y});
    // A whole figure shrinks about the top of the head until its feet are in the frame; the head and the
    // face filter shrink with it.
    if (def_.fullLength) {
        const FullLengthFit fit = fitFullLength(def_, cell, a, static_cast<float>(g.sourceHeight));
        if (fit.scale < 1) {
            cairo_matrix_t about;
            cairo_matrix_init_translate(&about, fit.x, fit.y);
            cairo_matrix_scale(&about, fit.scale, fit.scale);
            cairo_matrix_translate(&about, -fit.x, -fit.y);
            cairo_matrix_t moved;
            cairo_matrix_multiply(&moved, &about, placement);
            *placement = moved;
        }
    }

    const TorsoFrame frame = animator_.frameAt(t);
    lastClip_ = frame.clip;
    if (frame.clip < 0) return;
    cairo_matrix_t cellMatrix{cell.xx, cell.yx, cell.xy, cell.yy, cell.x0, cell.y0};
    cairo_matrix_t drawing;
    cairo_matrix_multiply(&drawing, &cellMatrix, placement);
    if (!usableMatrix(drawing)) return;

    const SpriteCell& picture = cells_[frame.clip][frame.frame];
    if (!picture.picture) return;
    cairo_matrix_t fromCell;
    cairo_matrix_init_translate(&fromCell, picture.x, picture.y);
    cairo_matrix_t toCanvas;
    cairo_matrix_multiply(&toCanvas, &fromCell, &drawing);
    drawPictureAffine(g.canvas.get(), picture.picture.get(), toCanvas, nullptr, picture.spans.data());
}

}  // namespace qm
