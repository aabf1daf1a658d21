// quillmere-track PICTURE [OUT.png]: runs the face detector, the face mesh, the face geometry and the
// person mask on one picture, prints what they found and writes an overlay to look at: the room dimmed
// blue where the mask says "not person", the detector's region (cyan) and the mesh's next region
// (yellow), the landmarks (eyes green, brows orange, lips red, irises magenta, the rest white) and the
// geometry's centres (crosses).
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/log.h"
#include "tracking/face_detector.h"
#include "tracking/face_geometry.h"
#include "tracking/face_mesh.h"
#include "tracking/person_mask.h"
#include "tracking/tools/picture_file.h"

namespace {

using namespace qm;

constexpr int kMaxFrames = 8;

void printRegion(const char* label, const FaceRegion& r) {
    std::printf("%s: centre (%.1f, %.1f) size %.1f angle %.1f deg\n", label, r.centreX, r.centreY, r.size,
                r.angle * 180 / M_PI);
}

void printGeometry(const FaceGeometry& g) {
    auto pair = [](const char* name, Point2 p) { std::printf("  %-12s (%.1f, %.1f)\n", name, p.x, p.y); };
    auto value = [](const char* name, float v) { std::printf("  %-12s %.3f\n", name, v); };
    std::printf("geometry:\n");
    pair("leftEye", g.leftEye);
    pair("rightEye", g.rightEye);
    pair("leftBrow", g.leftBrow);
    pair("rightBrow", g.rightBrow);
    pair("mouthCentre", g.mouthCentre);
    pair("faceCentre", g.faceCentre);
    pair("innerMouth", g.innerMouth);
    value("eyeWidth", g.eyeWidth);
    value("mouthWidth", g.mouthWidth);
    value("mouthHeight", g.mouthHeight);
    value("mouthOpen", g.mouthOpen);
    value("faceWidth", g.faceWidth);
    std::printf("  %-12s %.3f (%.1f deg)\n", "roll", g.roll, g.roll * 180 / M_PI);
    value("eyeOpen", g.eyeOpen);
    value("gazeX", g.gazeX);
    value("gazeY", g.gazeY);
    value("browRaise", g.browRaise);
    pair("nose", g.nose);
    pair("chin", g.chin);
}

void strokeRegion(cairo_t* cr, const FaceRegion& r, double red, double green, double blue, double width) {
    cairo_save(cr);
    cairo_translate(cr, r.centreX, r.centreY);
    cairo_rotate(cr, r.angle);
    cairo_rectangle(cr, -r.size / 2, -r.size / 2, r.size, r.size);
    cairo_move_to(cr, 0, -r.size / 2);  // a tick at the top edge shows which way is up for the mesh
    cairo_line_to(cr, 0, -r.size / 2 + r.size / 12);
    cairo_restore(cr);
    cairo_set_source_rgb(cr, red, green, blue);
    cairo_set_line_width(cr, width);
    cairo_stroke(cr);
}

void dots(cairo_t* cr, const LandmarkSet& set, const int* indices, int count, double radius) {
    for (int k = 0; k < count; ++k) {
        const Point2 p = set.landmarks[indices[k]];
        cairo_new_sub_path(cr);
        cairo_arc(cr, p.x, p.y, radius, 0, 2 * M_PI);
    }
    cairo_fill(cr);
}

void cross(cairo_t* cr, Point2 p, double arm) {
    cairo_move_to(cr, p.x - arm, p.y);
    cairo_line_to(cr, p.x + arm, p.y);
    cairo_move_to(cr, p.x, p.y - arm);
    cairo_line_to(cr, p.x, p.y + arm);
    cairo_stroke(cr);
}

// The room (mask low) dimmed and tinted blue, stretched back over the picture like composition does.
void paintMask(cairo_t* cr, const FaceTracker& tracker, int width, int height) {
    cairo_surface_t* mask =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kPersonMaskWidth, kPersonMaskHeight);
    const int stride = cairo_image_surface_get_stride(mask);
    unsigned char* data = cairo_image_surface_get_data(mask);
    for (int y = 0; y < kPersonMaskHeight; ++y) {
        for (int x = 0; x < kPersonMaskWidth; ++x) {
            const int room = 255 - tracker.personMaskPixels[(y * kPersonMaskWidth + x) * 4];
            const int alpha = room * 6 / 10;
            uint8_t* px = data + y * stride + x * 4;
            px[0] = static_cast<uint8_t>(alpha);  // blue, premultiplied
            px[1] = static_cast<uint8_t>(alpha / 5);
            px[2] = 0;
            px[3] = static_cast<uint8_t>(alpha);
        }
    }
    cairo_surface_mark_dirty(mask);
    cairo_save(cr);
    cairo_scale(cr, static_cast<double>(width) / kPersonMaskWidth,
                static_cast<double>(height) / kPersonMaskHeight);
    cairo_set_source_surface(cr, mask, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(mask);
}

bool writeOverlay(const std::string& path, const PictureBuffer& picture, const FaceTracker& tracker,
                  bool masked, const FaceRegion* detected, const FaceRegion* next,
                  const FaceGeometry* geometry) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
    const int stride = cairo_image_surface_get_stride(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(data + static_cast<size_t>(y) * stride,
                    picture.pixels.data() + static_cast<size_t>(y) * picture.width * 4,
                    static_cast<size_t>(picture.width) * 4);
    cairo_surface_mark_dirty(surface);
    cairo_t* cr = cairo_create(surface);
    if (masked) paintMask(cr, tracker, picture.width, picture.height);

    const double unit = std::max(1.0, std::max(picture.width, picture.height) / 512.0);
    if (detected) strokeRegion(cr, *detected, 0, 0.9, 1, 1.5 * unit);
    if (next) strokeRegion(cr, *next, 1, 0.9, 0, 1.5 * unit);
    if (geometry) {
        using namespace face_points;
        const LandmarkSet& set = tracker.landmarks;
        cairo_set_source_rgba(cr, 1, 1, 1, 0.7);
        static int all[kLandmarkCount];
        for (int i = 0; i < kLandmarkCount; ++i)
            all[i] = i;
        dots(cr, set, all, 468, 0.8 * unit);
        cairo_set_source_rgb(cr, 0.2, 1, 0.2);
        dots(cr, set, kEyeA, 16, 1.3 * unit);
        dots(cr, set, kEyeB, 16, 1.3 * unit);
        cairo_set_source_rgb(cr, 1, 0.6, 0);
        dots(cr, set, kBrowA, 10, 1.3 * unit);
        dots(cr, set, kBrowB, 10, 1.3 * unit);
        cairo_set_source_rgb(cr, 1, 0.15, 0.15);
        dots(cr, set, kOuterLips, 20, 1.3 * unit);
        dots(cr, set, kInnerLips, 20, 1.0 * unit);
        cairo_set_source_rgb(cr, 1, 0.2, 1);
        dots(cr, set, all + 468, 10, 1.3 * unit);
        cairo_set_line_width(cr, 0.8 * unit);
        for (int iris : {kIrisA, kIrisB}) {
            // The iris outline: centre plus its four rim points.
            const Point2 c = set.landmarks[iris];
            const Point2 rim = set.landmarks[iris + 1];
            cairo_new_sub_path(cr);
            cairo_arc(cr, c.x, c.y, std::hypot(rim.x - c.x, rim.y - c.y), 0, 2 * M_PI);
        }
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 1, 1, 0);
        cairo_set_line_width(cr, 1.2 * unit);
        for (Point2 p : {geometry->leftEye, geometry->rightEye, geometry->mouthCentre, geometry->nose,
                         geometry->chin, geometry->faceCentre})
            cross(cr, p, 5 * unit);
    }
    cairo_destroy(cr);
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), cairo_status_to_string(status));
        return false;
    }
    return true;
}

std::string defaultOutput(const std::string& input) {
    std::string name = input.substr(input.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name + "-track.png";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: quillmere-track PICTURE [OUT.png]\n");
        return 2;
    }
    const std::string input = argv[1];
    const std::string output = argc > 2 ? argv[2] : defaultOutput(input);
    qm::setLogPath("/dev/stderr");  // the runtime's set-up lines go to the terminal

    PictureBuffer picture;
    std::string error;
    if (!readPictureFile(input, picture, &error)) {
        std::fprintf(stderr, "quillmere-track: %s\n", error.c_str());
        return 1;
    }
    std::printf("picture: %s, %d x %d\n", input.c_str(), picture.width, picture.height);

    auto tracker = std::make_unique<FaceTracker>();
    FaceRegion detected, next;
    FaceGeometry geometry;
    bool found = false, masked = false;
    try {
        loadModels(*tracker, {});
        const SourcePicture source = picture.view();
        found = detectFace(*tracker, source, detected);
        if (!found) {
            std::printf("face: none\n");
        } else {
            printRegion("detector region", detected);
            const DetectedFace& d = tracker->detection;
            std::printf("detector score %.3f, eye keypoints (%.1f, %.1f) and (%.1f, %.1f)\n", d.score,
                        d.eyes[0].x, d.eyes[0].y, d.eyes[1].x, d.eyes[1].y);
            // As the engine does frame after frame on a still face: the mesh on the detector's region,
            // then on the region each set of landmarks gives, until the region settles (a face lying on
            // its side takes a few frames to turn upright).
            float confidence = trackFace(*tracker, source, detected);
            std::printf("mesh confidence on the detector region: %.3f\n", confidence);
            FaceRegion used = detected;
            next = regionFromLandmarks(tracker->landmarks);
            for (int frame = 2; frame <= kMaxFrames && confidence >= 0.5f; ++frame) {
                const bool settled =
                    std::hypot(next.centreX - used.centreX, next.centreY - used.centreY) < 1 &&
                    std::fabs(next.angle - used.angle) < 0.02f;
                if (settled && frame > 2) break;
                used = next;
                confidence = trackFace(*tracker, source, used);
                next = regionFromLandmarks(tracker->landmarks);
                std::printf("frame %d: region angle %.1f deg, mesh confidence %.3f\n", frame,
                            used.angle * 180 / M_PI, confidence);
            }
            printRegion("next region, from the landmarks", next);
            std::printf("mesh confidence on the landmark region: %.3f%s\n", confidence,
                        confidence < 0.5f ? " (below 0.5: the engine would drop the face)" : "");
            geometry = computeGeometry(tracker->landmarks);
            printGeometry(geometry);
        }
        masked = segmentPerson(*tracker, source);
        if (masked) {
            int person = 0;
            for (float v : tracker->personMask)
                person += v > 0.5f;
            std::printf("person mask: %.1f%% of the picture is person\n", 100.0 * person / kPersonMaskValues);
        } else {
            std::printf("person mask: not available\n");
        }
    } catch (const ModelError& e) {
        std::fprintf(stderr, "quillmere-track: face model error: %s\n", e.what());
        return 1;
    }
    if (!writeOverlay(output, picture, *tracker, masked, found ? &detected : nullptr, found ? &next : nullptr,
                      found ? &geometry : nullptr))
        return 1;
    std::printf("overlay: %s\n", output.c_str());
    return 0;
}
