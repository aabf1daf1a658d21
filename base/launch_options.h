// The command line: LaunchOptions and its parser. Options are compared case-sensitively and whole; an
// option that takes a value consumes the next argument (the empty text when there is none, which reads
// as 0 for numbers); unknown arguments are skipped; a later occurrence wins. Headless mode is found by
// searching the whole command line for the text "--headless".
#pragma once

#include <string>
#include <vector>

#include "base/filter_types.h"

namespace qm {

struct LaunchOptions {
    int face = kFaceMorvel;
    std::string camera;
    std::string file;
    bool cpu = false;
    int frames = 0;  // 0: no limit
    std::string dumpPath;
    int dumpAt = 60;
    bool plain = false;
    int threads = 0;  // 0: chosen for this machine (kAutomaticModelThreads)
    std::string wear[kWearSlots];
    std::string torso;
    bool bodyless = false;
    int look = kLookNone;
    bool blur = false;
    std::string background;
    std::string visitor;
    bool masculine = false;
    std::string customFace;
    float tilt = 0;  // radians
    float exposure = 0;
    float warmth = 0;
    float neck = 0;
    bool photoEyes = true;
    bool photoMouth = true;
    float open = -1;  // forced mouth-open value; -1 = off
    bool blink = false;
    Fit wearFit[kWearSlots];
    bool software = false;
    std::string record;  // the companion records the session to this file instead of serving a device
    // Set by start-up, not the command line: the frame section of the companion this run started. Empty
    // (no camera, --no-camera): the engine sends its frames nowhere.
    std::string frameSection;
};

// Switches read only by start-up, outside the record.
struct LaunchSwitches {
    bool headless = false;
    bool noCamera = false;
    bool noEngine = false;
    bool checkCamera = false;  // report what serving the camera needs on this machine, then exit
};

// Parses the arguments after the program path.
LaunchOptions parseLaunchOptions(const std::vector<std::string>& args, LaunchSwitches* switches = nullptr);

// The raw command line: every argument, the program path included, joined by single spaces.
std::string joinCommandLine(int argc, char** argv);
bool commandLineSelectsHeadless(const std::string& commandLine);

// "orange" → 2, "banana" → 3, "kitten" → 4, "googly" → 5, "custom" → 6, "none" → 0, anything else → 1.
int faceKindFromName(const std::string& name);
// "natural" → 1, "glam" → 2, "bold" → 3, anything else → 0.
int lookFromName(const std::string& name);

// Number readers with the command line's rules: leading decimal text, anything else (or nothing) is 0.
int readInteger(const std::string& text);
double readNumber(const std::string& text);

}  // namespace qm
