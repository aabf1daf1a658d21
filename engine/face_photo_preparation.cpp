#include "engine/face_photo_preparation.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "base/log.h"
#include "render/pictures.h"

namespace qm {

namespace {

constexpr int kMaskWidth = 256, kMaskHeight = 144;
constexpr int kJawLandmarks[21] = {454, 323, 361, 288, 397, 365, 379, 378, 400, 377, 152,
                                   148, 176, 149, 150, 136, 172, 58,  132, 93,  234};
constexpr FaceAnchors kNoFaceAnchors = {0.5f, 0.5f,  0.3f,      0.38f, 0.7f, 0.38f,
                                        0.5f, 0.64f, 0.571429f, 1.2f,  1.0f, 0};

std::string cutOutPath(const std::string& path) {
    return path + ".cut.png";
}

// Softens the photo's edge through the person mask; false when the mask holds too little person to trust.
bool cutOut(const uint8_t* mask, FacePhoto& photo, int paddedWidth, int paddedHeight, int ox, int oy) {
    double sum = 0;
    for (int i = 0; i < kMaskWidth * kMaskHeight; ++i)
        sum += mask[i * 4] / 255.0;
    if (sum <= 0.02 * kMaskWidth * kMaskHeight) return false;
    const int w = static_cast<int>(photo.pixelWidth), h = static_cast<int>(photo.pixelHeight);
    auto value = [&](int x, int y) { return mask[(y * kMaskWidth + x) * 4] / 255.0f; };
    for (int i = 0; i < h; ++i) {
        const float my = std::clamp((oy + i + 0.5f) / paddedHeight * kMaskHeight - 0.5f, 0.0f, 142.999f);
        const int y0 = static_cast<int>(my);
        const float fy = my - y0;
        uint8_t* row = photo.pixels.data() + static_cast<size_t>(i) * w * 4;
        for (int j = 0; j < w; ++j) {
            const float mx = std::clamp((ox + j + 0.5f) / paddedWidth * kMaskWidth - 0.5f, 0.0f, 254.999f);
            const int x0 = static_cast<int>(mx);
            const float fx = mx - x0;
            const float m = (value(x0, y0) * (1 - fx) + value(x0 + 1, y0) * fx) * (1 - fy) +
                            (value(x0, y0 + 1) * (1 - fx) + value(x0 + 1, y0 + 1) * fx) * fy;
            const float a = std::clamp((m - 0.3f) / 0.4f, 0.0f, 1.0f);
            const float k = (3 - 2 * a) * a * a;
            for (int c = 0; c < 4; ++c)
                row[j * 4 + c] = static_cast<uint8_t>(row[j * 4 + c] * k + 0.5f);
        }
    }
    return true;
}

}  // namespace

FacePhotoPreparation::Loaded FacePhotoPreparation::loadForPreparation(const std::string& path) {
    Loaded loaded;
    auto photo = std::make_unique<FacePhoto>();
    int w = 0, h = 0;
    // A cut-out made before is used in place of the picture; a broken one is ignored.
    if (!loadPhoto(cutOutPath(path), &photo->pixels, &w, &h) && !loadPhoto(path, &photo->pixels, &w, &h))
        return loaded;
    photo->pixelWidth = static_cast<uint32_t>(w);
    photo->pixelHeight = static_cast<uint32_t>(h);
    photo->width = static_cast<float>(w);
    photo->height = static_cast<float>(h);
    loaded.needsCutOut = true;
    for (size_t i = 3; i < photo->pixels.size(); i += 4)
        if (photo->pixels[i] < 250) {
            loaded.needsCutOut = false;
            break;
        }
    // Padded to 16:9 like a camera frame, so the detector sees the proportions it was made for.
    loaded.paddedWidth = std::max(w, (16 * h + 8) / 9);
    loaded.paddedHeight = std::max(h, (9 * w + 15) / 16);
    loaded.offsetX = (loaded.paddedWidth - w) / 2;
    loaded.offsetY = (loaded.paddedHeight - h) / 2;
    loaded.padded.assign(static_cast<size_t>(loaded.paddedWidth) * loaded.paddedHeight * 4, 0);
    for (int y = 0; y < h; ++y)
        std::memcpy(
            &loaded
                 .padded[(static_cast<size_t>(y + loaded.offsetY) * loaded.paddedWidth + loaded.offsetX) * 4],
            &photo->pixels[static_cast<size_t>(y) * w * 4], static_cast<size_t>(w) * 4);
    loaded.photo = std::move(photo);
    return loaded;
}

void FacePhotoPreparation::finishMeasures(FacePhoto& photo) {
    const float w = photo.width, h = photo.height;
    FaceAnchors anchors = kNoFaceAnchors;
    photo.jawY = -1;
    if (photo.faceFound) {
        const FaceGeometry& g = photo.geometry;
        photo.restEyeOpen = std::clamp(g.eyeOpen, 0.22f, 0.45f);
        anchors = photoAnchors(g, w, h);
        photo.jawY = (g.chin.y + 0.25f * (g.mouthCentre.y - g.chin.y)) / h;
        photo.skinColourFound =
            sampleSkinColour(true, photo.pixels.data(), static_cast<int>(photo.pixelWidth),
                             static_cast<int>(photo.pixelHeight), g.leftEye.x, g.leftEye.y, g.rightEye.x,
                             g.rightEye.y, true, &photo.skinColour);
    }
    photo.anchors = anchors;
    photo.box = measureHeadBox(photo.pixels.data(), static_cast<int>(photo.pixelWidth),
                               static_cast<int>(photo.pixelHeight), anchors, nullptr);
    applyNeck(photo, 0);
}

FacePhotoPreparation::~FacePhotoPreparation() = default;

void FacePhotoPreparation::start(const std::string& path) {
    path_ = path;
    photo_.reset();
    stage_ = path.empty() ? Stage::Idle : Stage::Load;
}

bool FacePhotoPreparation::step(FaceTracking& tracking) {
    SourceFrame frame{padded_.data(), static_cast<uint32_t>(paddedWidth_),
                      static_cast<uint32_t>(paddedHeight_)};
    switch (stage_) {
        case Stage::Idle:
            return true;
        case Stage::Load: {
            // Decoding a large picture takes longer than a frame: it runs beside the loop.
            loading_ = std::async(std::launch::async, [path = path_] { return loadForPreparation(path); });
            stage_ = Stage::Loading;
            return false;
        }
        case Stage::Loading: {
            if (loading_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
            Loaded loaded = loading_.get();
            if (!loaded.photo) {
                stage_ = Stage::Idle;
                return true;
            }
            photo_ = std::move(loaded.photo);
            padded_ = std::move(loaded.padded);
            paddedWidth_ = loaded.paddedWidth;
            paddedHeight_ = loaded.paddedHeight;
            offsetX_ = loaded.offsetX;
            offsetY_ = loaded.offsetY;
            needsCutOut_ = loaded.needsCutOut;
            stage_ = Stage::Detect;
            return false;
        }
        case Stage::Detect:
            stage_ = tracking.detectFace(frame, &region_) ? Stage::Mesh : Stage::DetectUnpadded;
            return false;
        case Stage::DetectUnpadded:
            // Padding shrinks a face that fills a square or upright photo below what the detector finds:
            // one more try on the photo as it is, which the later stages then keep using.
            stage_ = Stage::CutOut;
            if (paddedWidth_ != static_cast<int>(photo_->pixelWidth) ||
                paddedHeight_ != static_cast<int>(photo_->pixelHeight)) {
                padded_ = photo_->pixels;
                paddedWidth_ = static_cast<int>(photo_->pixelWidth);
                paddedHeight_ = static_cast<int>(photo_->pixelHeight);
                offsetX_ = offsetY_ = 0;
                frame = {padded_.data(), static_cast<uint32_t>(paddedWidth_),
                         static_cast<uint32_t>(paddedHeight_)};
                if (tracking.detectFace(frame, &region_)) stage_ = Stage::Mesh;
            }
            return false;
        case Stage::Mesh:
            if (tracking.trackFace(frame, region_, &landmarks_) >= 0.5f) {
                region_ = tracking.regionFromLandmarks(landmarks_);
                stage_ = Stage::MeshAgain;
            } else {
                stage_ = Stage::CutOut;
            }
            return false;
        case Stage::MeshAgain:
            photo_->faceFound = tracking.trackFace(frame, region_, &landmarks_) >= 0.5f;
            for (Point2& p : landmarks_.landmarks) {
                p.x -= static_cast<float>(offsetX_);
                p.y -= static_cast<float>(offsetY_);
            }
            stage_ = Stage::CutOut;
            return false;
        case Stage::CutOut:
            if (needsCutOut_ && tracking.personMaskLoaded()) {
                const uint8_t* mask = tracking.segmentPerson(frame);
                // Encoding the cut-out runs beside the loop, from its own copy of the pixels.
                if (mask && cutOut(mask, *photo_, paddedWidth_, paddedHeight_, offsetX_, offsetY_))
                    saving_ = std::async(std::launch::async, [path = path_, pixels = photo_->pixels,
                                                              w = static_cast<int>(photo_->pixelWidth),
                                                              h = static_cast<int>(photo_->pixelHeight)] {
                        if (!savePng(cutOutPath(path), pixels.data(), w, h))
                            logLine("face picture: cannot keep the cut-out beside %s", path.c_str());
                    });
            }
            stage_ = Stage::Measure;
            return false;
        case Stage::Measure:
            break;
        case Stage::Finishing:
            if (finishing_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
            photo_ = finishing_.get();
            logLine("face picture: %dx%d, face %s, %s", static_cast<int>(photo_->pixelWidth),
                    static_cast<int>(photo_->pixelHeight), photo_->faceFound ? "found" : "not found",
                    needsCutOut_ ? "cut out here" : "already cut out");
            stage_ = Stage::Idle;
            return true;
    }

    if (photo_->faceFound) {
        photo_->geometry = tracking.computeGeometry(landmarks_);
        for (int i = 0; i < 21; ++i)
            photo_->jawPoints[i] = landmarks_.landmarks[kJawLandmarks[i]];
        const Point2 a = landmarks_.landmarks[61], b = landmarks_.landmarks[291];
        photo_->mouthLeft = a.x <= b.x ? a : b;
        photo_->mouthRight = a.x <= b.x ? b : a;
    }
    padded_.clear();
    padded_.shrink_to_fit();
    // The measures and the neck trim are pixel work without the tracker: beside the loop too.
    finishing_ = std::async(std::launch::async, [photo = std::move(photo_)]() mutable {
        finishMeasures(*photo);
        return std::move(photo);
    });
    stage_ = Stage::Finishing;
    return false;
}

std::unique_ptr<FacePhoto> prepareFacePhoto(const std::string& path, FaceTracking& tracking) {
    FacePhotoPreparation preparation;
    preparation.start(path);
    while (!preparation.step(tracking))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return preparation.take();
}

}  // namespace qm
