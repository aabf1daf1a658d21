#include "ui/tabs/faces_tab.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <string_view>

#include "base/log.h"
#include "platform/paths.h"
#include "settings/libraries.h"
#include "settings/settings_paths.h"
#include "ui/icons.h"
#include "ui/tabs/list_choice.h"

namespace qm {
namespace {

struct BuiltInFace {
    const char* caption;
    int kind;
};
// The built-in tiles in their order; the thumbnail cache holds their pictures by the same index.
constexpr BuiltInFace kBuiltInFaces[] = {{"My face", kFaceNone},       {"Morvel", kFaceMorvel},
                                         {"Orange", kFaceOrange},      {"Banana", kFaceBanana},
                                         {"Lost kitten", kFaceKitten}, {"Googly morvel", kFaceGoogly}};
constexpr int kBuiltInTiles = static_cast<int>(std::size(kBuiltInFaces));

// Square tiles three to a row, with room for a caption under each.
constexpr float kTileGap = 10;
constexpr float kTileSize = (kContentWidth - 2 * kTileGap) / 3;
constexpr float kRowStep = kTileSize + 32;
constexpr float kTileRadius = 10;

constexpr const char* kAddNote =
    "Add yours: any picture with a face. Right-click one you added to remove it.";
constexpr const char* kFeaturesNote =
    "Photo: the picture's own eyes and lips move with yours. My: yours go on it.";

constexpr std::string_view kEyesLabels[] = {"Photo eyes", "My eyes"};
constexpr std::string_view kMouthLabels[] = {"Photo mouth", "My mouth"};
constexpr std::string_view kLookLabels[] = {"None", "Natural", "Glam", "Bold"};
constexpr std::string_view kMasculineLabels[] = {"Feminine", "Masculine"};

bool photoFace(const FilterState& s) {
    return s.face == kFaceCustom && !s.faceId.empty();
}

// Two googly eyes over the morvel's, scaled with the tile.
void drawGooglyEyes(Painter& p, const Rect& square) {
    const float u = square.width(), s = 0.2f * u;
    const float centreX = (square.left + square.right) / 2, cy = square.top + 0.4f * u;
    for (int k = -1; k <= 1; k += 2) {
        const float cx = centreX + k * 0.625f * s;
        p.fillCircle(cx, cy, 0.5f * s, colours::kWhite);
        p.fillCircle(cx + (k < 0 ? 0.12f : -0.08f) * s, cy + 0.15f * s, 0.25f * s, {0, 0, 0, 1});
        const float r = 0.5f * s;
        p.strokeRoundRect({cx - r, cy - r, cx + r, cy + r}, r, 1, {0, 0, 0, 0.5f});
    }
}

// One cell of the grid: a built-in face, a photo of the library, or "Add yours".
void drawFaceTile(DrawContext& dc, float x, float top, int cell) {
    Painter& p = dc.painter;
    const FilterState& s = dc.panel.state;
    const int photos = static_cast<int>(dc.panel.lists.faceIds.size());
    const Rect square{x, top, x + kTileSize, top + kTileSize};
    int kind = kHitAddFace, index = 0;
    std::string_view caption = "Add yours";
    bool selected = false;
    if (cell < kBuiltInTiles) {
        kind = kHitFaceTile;
        index = cell;
        caption = kBuiltInFaces[cell].caption;
        selected = s.face == kBuiltInFaces[cell].kind;
    } else if (cell < kBuiltInTiles + photos) {
        kind = kHitUserFaceTile;
        index = cell - kBuiltInTiles;
        caption = {};
        selected = s.face == kFaceCustom && s.faceId == dc.panel.lists.faceIds[index];
    }
    drawTileFill(dc, square, kTileRadius, kind, index);
    if (kind == kHitFaceTile) {
        const Rect inset{x + 6, top + 6, x + kTileSize - 6, top + kTileSize - 6};
        if (!p.drawThumbnail(ThumbnailGroup::BuiltInFace, index, inset, false, 1))
            drawIcon(p, icon::kContact, square, Font::LargeIcon, colours::kSecondaryText);
        if (kBuiltInFaces[index].kind == kFaceGoogly) drawGooglyEyes(p, square);
    } else if (kind == kHitUserFaceTile) {
        // A photo whose thumbnail can't be made stays an empty tile.
        p.pushRoundClip(square, kTileRadius);
        p.drawThumbnail(ThumbnailGroup::UserFace, index, square, true, 1);
        p.popClip();
    } else {
        drawIcon(p, icon::kAdd, square, Font::LargeIcon, colours::kAccent);
    }
    addRegion(dc.panel.ui, {x, top, x + kTileSize, top + kTileSize + 22}, kind, index);
    if (selected) drawSelectionRing(dc, square, kTileRadius);
    if (!caption.empty())
        p.drawText(caption, {x - 4, top + kTileSize + 3, x + kTileSize + 4, top + kTileSize + 21},
                   {Font::Small, Align::Centre}, selected ? colours::kPrimaryText : colours::kSecondaryText);
}

void drawFitSection(DrawContext& dc, float& y) {
    FilterState& s = dc.panel.state;
    drawSeparator(dc, y);
    drawHeading(dc, y, "Fit", 28);
    drawSlider(dc, y, icon::kFullScreen, "Size", &s.faceFit.scale, 0.6f, 1.6f, "Smaller", "Bigger", 1, false);
    // On a mirrored preview the screen's left is the picture's right; a photo's tilt is stored turned the
    // picture's way, which the screen shows the other way round unless it is mirrored.
    if (photoFace(s)) {
        PhotoFit& fit = s.photoFit;
        drawSlider(dc, y, icon::kSwitch, "Left / right", &fit.x, -0.25f, 0.25f, "Left", "Right", 0, s.mirror);
        drawSlider(dc, y, icon::kSort, "Up / down", &fit.y, -0.25f, 0.25f, "Down", "Up", 0, false);
        drawSlider(dc, y, icon::kRotate, "Tilt", &fit.tilt, -25, 25, "\u21BA", "\u21BB", 0, !s.mirror);
        drawSlider(dc, y, icon::kBrightness, "Brightness", &fit.exposure, -1, 1, "Darker", "Brighter", 0,
                   false);
        drawSlider(dc, y, icon::kFrigid, "Warmth", &fit.warmth, -1, 1, "Cooler", "Warmer", 0, false);
        drawSlider(dc, y, icon::kContact, "Neck", &fit.neck, 0, 1, "Jaw", "Keep beard", 0, false);
    } else {
        drawSlider(dc, y, icon::kSwitch, "Left / right", &s.faceFit.x, -0.25f, 0.25f, "Left", "Right", 0,
                   s.mirror);
        drawSlider(dc, y, icon::kSort, "Up / down", &s.faceFit.y, -0.25f, 0.25f, "Down", "Up", 0, false);
    }
}

void drawFeaturesSection(DrawContext& dc, float& y) {
    const PhotoFit& fit = dc.panel.state.photoFit;
    drawSeparator(dc, y);
    drawHeading(dc, y, "Eyes and mouth");
    drawSegments(dc, y, kEyesLabels, 2, fit.photoEyes ? 0 : 1, kHitEyesSegment);
    drawSegments(dc, y, kMouthLabels, 2, fit.photoMouth ? 0 : 1, kHitMouthSegment);
    y += drawNote(dc, kFeaturesNote, dc.contentLeft, y, kContentWidth) + 6;
}

void drawTouchUpSection(DrawContext& dc, float& y) {
    FilterState& s = dc.panel.state;
    drawSeparator(dc, y);
    drawHeading(dc, y, "Touch-up");
    drawSegments(dc, y, kLookLabels, 4, std::clamp(s.look, 0, 3), kHitLookSegment);
    // "None" hides the look's own controls but keeps their values for the next look.
    if (s.look == kLookNone) return;
    drawSegments(dc, y, kMasculineLabels, 2, s.masculine ? 1 : 0, kHitMasculineSegment);
    drawSlider(dc, y, icon::kBrightness, "Strength", &s.strength, 0, 1.5f, "Light", "Strong", 1, false);
}

// Wears a photo of the library: the photo worn so far keeps its fit, the new one brings its own.
void wearPhoto(Panel& panel, const std::string& faceId) {
    FilterState& s = panel.state;
    if (!s.faceId.empty()) savePhotoFit(panel.paths, s.faceId, s.photoFit);
    s.faceId = faceId;
    s.photoFit = loadPhotoFit(panel.paths, faceId);
    s.face = kFaceCustom;
}

// The library changed on disk: list it again and let the next paint make its thumbnails afresh.
void relistFaces(Panel& panel) {
    panel.lists.faceIds = listFaces(libraryFolder(panel.paths, "faces"));
    panel.host.releaseDeviceResources();
}

TabClick showMessage(Panel& panel, std::string message) {
    panel.ui.statusMessage = std::move(message);
    panel.host.repaint();
    return TabClick::Done;
}

TabClick addFacePicture(Panel& panel) {
    const std::string path = panel.host.choosePicture("Add a face");
    if (path.empty()) return TabClick::Done;
    // A file that is no picture would be copied whole and then never drawn.
    if (!panel.host.isPicture(path)) {
        logLine("faces: %s is not a picture", path.c_str());
        return showMessage(panel, "Couldn't read that picture.");
    }
    std::string error;
    const std::string faceId = addFace(libraryFolder(panel.paths, "faces"), path, &error);
    if (faceId.empty()) {
        logLine("faces: cannot add %s: %s", path.c_str(), error.c_str());
        if (error.find("folder") != std::string::npos)
            return showMessage(panel, "Couldn't save that picture in your faces folder.");
        return showMessage(panel, "Couldn't read that picture.");
    }
    relistFaces(panel);
    wearPhoto(panel, faceId);
    panel.ui.statusMessage.clear();  // a failure shown before is old news
    return TabClick::Changed;
}

}  // namespace

void drawFacesTab(DrawContext& dc, float& y) {
    const FilterState& s = dc.panel.state;
    const float left = dc.contentLeft;
    drawTabTitle(dc, y, "Faces");

    const int cells = kBuiltInTiles + static_cast<int>(dc.panel.lists.faceIds.size()) + 1;
    for (int cell = 0; cell < cells; ++cell)
        drawFaceTile(dc, left + (cell % 3) * (kTileSize + kTileGap), y + (cell / 3) * kRowStep, cell);
    y += std::ceil(cells / 3.0f) * kRowStep;
    y += drawNote(dc, kAddNote, left, y, kContentWidth) + 14;

    if (s.face != kFaceNone) {
        drawFitSection(dc, y);
        if (photoFace(s)) drawFeaturesSection(dc, y);
    }
    drawTouchUpSection(dc, y);
    y += 8;
}

TabClick facesTabClick(Panel& panel, const HitRegion& region) {
    FilterState& s = panel.state;
    switch (region.kind) {
        case kHitFaceTile:
            if (region.index < 0 || region.index >= kBuiltInTiles) return TabClick::Done;
            s.face = kBuiltInFaces[region.index].kind;
            return TabClick::Changed;
        case kHitUserFaceTile: {
            const std::string* faceId = listEntry(panel.lists.faceIds, region.index, 0);
            if (!faceId) return TabClick::Done;
            // Deleted behind the window's back: the face worn so far stays on.
            if (!isRegularFile(libraryFolder(panel.paths, "faces") + *faceId)) {
                logLine("faces: %s is gone from the faces folder", faceId->c_str());
                relistFaces(panel);
                return showMessage(panel, "That picture is no longer in your faces folder.");
            }
            wearPhoto(panel, *faceId);
            return TabClick::Changed;
        }
        case kHitAddFace:
            return addFacePicture(panel);
        case kHitEyesSegment:
            s.photoFit.photoEyes = region.index == 0;
            return TabClick::Changed;
        case kHitMouthSegment:
            s.photoFit.photoMouth = region.index == 0;
            return TabClick::Changed;
        case kHitLookSegment:
            s.look = std::clamp(region.index, 0, 3);
            return TabClick::Changed;
        case kHitMasculineSegment:
            s.masculine = region.index == 1;
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

bool facesTabRightClick(Panel& panel, const HitRegion& region, float x, float y) {
    if (region.kind != kHitUserFaceTile) return false;
    if (!listEntry(panel.lists.faceIds, region.index, 0)) return true;
    const bool remove = chooseRemove(panel, x, y);
    // The menu ran its own loop: the list may have changed under it.
    const std::string* entry = listEntry(panel.lists.faceIds, region.index, 0);
    if (!remove || !entry) return true;
    const std::string faceId = *entry;
    FilterState& s = panel.state;
    IniDocument settings = readIniFile(panel.paths.settingsFile);
    if (!removeFace(libraryFolder(panel.paths, "faces"), settings, faceId)) {
        logLine("faces: cannot remove %s", faceId.c_str());
        showMessage(panel, "Couldn't remove that picture.");
        return true;
    }
    if (!panel.paths.settingsFile.empty()) writeIniFile(panel.paths.settingsFile, settings);
    // Without its photo the face falls back to the user's own; the fit of a photo that is gone goes too.
    if (s.faceId == faceId) {
        s.faceId.clear();
        s.photoFit = PhotoFit{};
        if (s.face == kFaceCustom) s.face = kFaceNone;
    }
    relistFaces(panel);
    panel.ui.activeScene.clear();
    applyChange(panel, true);
    return true;
}

}  // namespace qm
