// FilterState: everything the user chose about the picture, owned by the window's thread and persisted
// in the settings file; SettingsLists: the folder listings the window offers as choices.
#pragma once

#include <string>
#include <vector>

#include "base/filter_types.h"

namespace qm {

struct FilterState {
    int face = kFaceMorvel;
    bool filters = true;
    bool mirror = true;  // the window's preview only; never published
    int tab = 0;         // 0..4, the window's selected tab
    std::string camera;  // empty: first camera
    Fit faceFit;
    std::string faceId;  // file name of a face-library photo
    PhotoFit photoFit;
    std::string background = "none";  // "none", "blur" or a file in the backgrounds folder
    std::string visitor;
    Fit visitorFit;
    float visitorEvery = 15;  // seconds, 6..120
    bool ghost = false;
    int look = kLookNone;
    bool masculine = false;
    float strength = 1;  // 0..1.5
    std::string torso;
    Fit torsoFit;
    bool bodyless = false;
    float head = 1;  // head scale, 0.6..1.6
    std::string wear[kWearSlots];
    Fit wearFit[kWearSlots];
};

struct SettingsLists {
    std::vector<std::string> faceIds;       // faces folder, sorted
    std::vector<std::string> backgrounds;   // backgrounds folder, sorted
    std::vector<std::string> scenes;        // scene identifiers in file order
    std::vector<std::string> sceneNames;    // their display names
    std::vector<std::string> visitors;      // visitor names, sorted
    std::vector<std::string> visitorNames;  // their display names
    std::vector<std::string> torsos;        // torso names, sorted
};

// The effective wear item of a slot: nothing while the kitten face is worn, no "bald" hair unless the
// face is none, otherwise the stored item.
std::string effectiveWearItem(const FilterState& state, int slot);

}  // namespace qm
