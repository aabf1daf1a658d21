#include "tracking/face_geometry.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace qm {

namespace {

Point2 meanOf(const LandmarkSet& set, std::span<const int> indices) {
    Point2 sum;
    for (int i : indices) {
        sum.x += set.landmarks[i].x;
        sum.y += set.landmarks[i].y;
    }
    const float n = static_cast<float>(indices.size());
    return {sum.x / n, sum.y / n};
}

// Turns points by -roll about an origin: the face's upright frame.
struct Upright {
    Point2 origin;
    float c;
    float s;
    Point2 operator()(Point2 q) const { return turn({q.x - origin.x, q.y - origin.y}); }
    Point2 turn(Point2 d) const { return {d.x * c + d.y * s, -d.x * s + d.y * c}; }
};

struct Extent {
    float width;
    float height;
};

Extent extentOf(const LandmarkSet& set, std::span<const int> indices, const Upright& upright) {
    float minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
    for (int i : indices) {
        const Point2 q = upright(set.landmarks[i]);
        minX = std::min(minX, q.x);
        maxX = std::max(maxX, q.x);
        minY = std::min(minY, q.y);
        maxY = std::max(maxY, q.y);
    }
    return {maxX - minX, maxY - minY};
}

float distance(Point2 a, Point2 b) {
    return std::hypot(b.x - a.x, b.y - a.y);
}

}  // namespace

FaceGeometry computeGeometry(const LandmarkSet& set) {
    using namespace face_points;
    FaceGeometry g;
    const Point2 eyeA = meanOf(set, kEyeA), eyeB = meanOf(set, kEyeB);
    const Point2 browA = meanOf(set, kBrowA), browB = meanOf(set, kBrowB);
    const bool swapped = eyeA.x > eyeB.x;  // a mirrored face: list B is on the image-left side
    g.leftEye = swapped ? eyeB : eyeA;
    g.rightEye = swapped ? eyeA : eyeB;
    g.leftBrow = swapped ? browB : browA;
    g.rightBrow = swapped ? browA : browB;
    g.mouthCentre = meanOf(set, kOuterLips);
    g.innerMouth = meanOf(set, kInnerLips);

    g.roll = std::atan2(g.rightEye.y - g.leftEye.y, g.rightEye.x - g.leftEye.x);
    const Upright upright{{(g.leftEye.x + g.rightEye.x) / 2, (g.leftEye.y + g.rightEye.y) / 2},
                          std::cos(g.roll),
                          std::sin(g.roll)};

    const Extent a = extentOf(set, kEyeA, upright), b = extentOf(set, kEyeB, upright);
    g.eyeWidth = (a.width + b.width) / 2;
    g.eyeOpen = (a.height / std::max(a.width, 1.0f) + b.height / std::max(b.width, 1.0f)) / 2;

    const Extent outer = extentOf(set, kOuterLips, upright);
    g.mouthWidth = outer.width;
    g.mouthHeight = outer.height;
    g.mouthOpen = extentOf(set, kInnerLips, upright).height / std::max(g.mouthWidth, 1.0f);

    g.faceWidth = extentOf(set, kFaceOval, upright).width;
    const Point2 forehead = set.landmarks[kForehead], chin = set.landmarks[kChin];
    g.faceCentre = {(forehead.x + chin.x) / 2, (forehead.y + chin.y) / 2};

    // Each iris goes with the eye on its side of the picture; a tie counts iris A as the left one.
    const Point2 irisA = set.landmarks[kIrisA], irisB = set.landmarks[kIrisB];
    const bool irisSwapped = irisA.x > irisB.x;
    const Point2 leftIris = irisSwapped ? irisB : irisA, rightIris = irisSwapped ? irisA : irisB;
    const Point2 leftGaze = upright.turn({leftIris.x - g.leftEye.x, leftIris.y - g.leftEye.y});
    const Point2 rightGaze = upright.turn({rightIris.x - g.rightEye.x, rightIris.y - g.rightEye.y});
    const float eyeDivisor = std::max(g.eyeWidth, 1.0f);
    g.gazeX = (leftGaze.x + rightGaze.x) / 2 / eyeDivisor;
    g.gazeY = (leftGaze.y + rightGaze.y) / 2 / eyeDivisor;

    g.browRaise = (distance(g.leftBrow, g.leftEye) + distance(g.rightBrow, g.rightEye)) / 2 /
                  std::max(distance(g.leftEye, g.rightEye), 1.0f);
    g.nose = set.landmarks[kNose];
    g.chin = chin;
    return g;
}

}  // namespace qm
