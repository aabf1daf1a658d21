#include "render/torso_painter.h"

#include <cmath>

#include "base/log.h"
#include "platform/file_read.h"
#include "render/affine_blit.h"
#include "render/sprite_cells.h"

namespace qm {

namespace {

// The whole file, or false when it is not a regular file or is too long to be a torso file.
bool readTorsoFile(const std::string& path, std::string* text) {
    std::vector<uint8_t> bytes;
    if (readRegularFile(path, kLongestTorsoFile, &bytes) != FileRead::Ok) return false;
    text->assign(bytes.begin(), bytes.end());
    return true;
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

std::unique_ptr<LoadedTorso> loadTorso(const std::string& assetFolder, const std::string& name) {
    std::string json;
    if (!readTorsoFile(assetFolder + "torso_" + name + ".json", &json)) {
        logLine("torso %s: no json", name.c_str());
        return nullptr;
    }
    const TorsoDef def = parseTorso(name, json);
    auto torso = std::make_unique<LoadedTorso>();
    // Each clip's sheet; a clip whose sheet does not load, or holds fewer cells than its frames, is left out.
    torso->def = def;
    torso->def.clips.clear();
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
            torso->def.clips.push_back(clip);
            torso->cells.push_back(std::move(cells));
        }
    }
    logLine("torso %s: %d clips, %.0f x %.0f", name.c_str(), static_cast<int>(torso->def.clips.size()),
            static_cast<double>(def.frameW), static_cast<double>(def.frameH));
    if (!torsoUsable(torso->def)) return nullptr;
    return torso;
}

TorsoPainter::~TorsoPainter() {
    release();
}

void TorsoPainter::choose(const std::string& assetFolder, const std::string& name) {
    release();
    name_ = name;
    if (name.empty()) return;
    load_.start([assetFolder, name] { return loadTorso(assetFolder, name); });
}

bool TorsoPainter::poll() {
    std::unique_ptr<LoadedTorso> torso;
    if (load_.take(&torso)) install(std::move(torso));
    return installed_;
}

bool TorsoPainter::waitUntilLoaded() {
    std::unique_ptr<LoadedTorso> torso;
    if (load_.wait(&torso)) install(std::move(torso));
    return installed_;
}

void TorsoPainter::install(std::unique_ptr<LoadedTorso> torso) {
    if (!torso) return;
    def_ = std::move(torso->def);
    cells_ = std::move(torso->cells);
    animator_.reset(&def_);
    lastClip_ = -1;
    installed_ = true;
}

void TorsoPainter::release() {
    load_.drop();
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
