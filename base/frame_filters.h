// FrameFilters: one frame's filter values. At the top of each pass the engine copies the published filters
// into its one FrameFilters (under filterLock, see takeFrameFilters) and hands that same record to
// drawing; nothing is copied field by field after that.
#pragma once

#include <string>

#include "base/filter_types.h"

namespace qm {

// A wear slot's item: its id, the catalogue entry it names (-1 for none or an unknown id) and the fit.
struct WornItem {
    std::string id;
    int entry = -1;
    Fit fit;
};

struct FrameFilters {
    bool filtering = false;  // filters on and not --plain; when false nothing but the camera is drawn
    int faceKind = kFaceNone;
    Fit faceFit;           // for the photo face, x and y come from its PhotoFit
    std::string facePath;  // the chosen face photo (faces folder + id); empty for none
    PhotoFit photo;        // tilt in radians here, with the screen's sign
    WornItem wear[kWearSlots];
    std::string backgroundPath;  // a background picture; empty for none and for blur
    int backgroundVersion = 0;   // a change reads the picture again (replaced under the same name)
    bool blur = false;
    std::string visitor;
    Fit visitorFit;
    float visitorEvery = 15;  // seconds
    bool ghost = false;
    std::string torso;
    Fit torsoFit;
    bool bodyless = false;
    float headScale = 1;
    int look = kLookNone;
    bool masculine = false;
    float strength = 1;
    int frameIndex = 0;
};

// True when some slot names a catalogue item.
inline bool wearChosen(const FrameFilters& filters) {
    for (const WornItem& item : filters.wear)
        if (item.entry >= 0) return true;
    return false;
}

}  // namespace qm
