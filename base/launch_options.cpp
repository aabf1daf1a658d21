#include "base/launch_options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace qm {

int faceKindFromName(const std::string& name) {
    if (name == "orange") return kFaceOrange;
    if (name == "banana") return kFaceBanana;
    if (name == "kitten") return kFaceKitten;
    if (name == "googly") return kFaceGoogly;
    if (name == "custom") return kFaceCustom;
    if (name == "none") return kFaceNone;
    return kFaceMorvel;
}

int lookFromName(const std::string& name) {
    if (name == "natural") return kLookNatural;
    if (name == "glam") return kLookGlam;
    if (name == "bold") return kLookBold;
    return kLookNone;
}

int readInteger(const std::string& text) {
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

double readNumber(const std::string& text) {
    // Plain decimal text only: infinities, NaN and hexadecimal forms are not numbers here.
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return 0;
    char first = text[start] == '+' || text[start] == '-' ? (start + 1 < text.size() ? text[start + 1] : 0)
                                                          : text[start];
    if (!((first >= '0' && first <= '9') || first == '.')) return 0;
    if (text.find_first_of("xX", start) != std::string::npos) {
        // "0x10" would parse as sixteen; read only the leading decimal digits.
        return static_cast<double>(std::strtol(text.c_str(), nullptr, 10));
    }
    double value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value) ? value : 0;
}

std::string joinCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i) line += ' ';
        line += argv[i];
    }
    return line;
}

bool commandLineSelectsHeadless(const std::string& commandLine) {
    return commandLine.find("--headless") != std::string::npos;
}

LaunchOptions parseLaunchOptions(const std::vector<std::string>& args, LaunchSwitches* switches) {
    LaunchOptions o;
    LaunchSwitches s;
    size_t i = 0;
    auto value = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    auto number = [&]() { return static_cast<float>(readNumber(value())); };
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--camera")
            o.camera = value();
        else if (a == "--file")
            o.file = value();
        else if (a == "--cpu")
            o.cpu = true;
        else if (a == "--plain")
            o.plain = true;
        else if (a == "--face")
            o.face = faceKindFromName(value());
        else if (a == "--custom")
            o.customFace = value();
        else if (a == "--my-eyes")
            o.photoEyes = false;
        else if (a == "--my-mouth")
            o.photoMouth = false;
        else if (a == "--neck")
            o.neck = number();
        else if (a == "--tilt")
            o.tilt = static_cast<float>(readNumber(value()) * 3.14159265 / 180);
        else if (a == "--exposure")
            o.exposure = number();
        else if (a == "--warmth")
            o.warmth = number();
        else if (a == "--open")
            o.open = number();
        else if (a == "--blink")
            o.blink = true;
        else if (a == "--hair")
            o.wear[kWearHair] = value();
        else if (a == "--hat")
            o.wear[kWearHat] = value();
        else if (a == "--glasses")
            o.wear[kWearGlasses] = value();
        else if (a == "--beard")
            o.wear[kWearBeard] = value();
        else if (a == "--torso")
            o.torso = value();
        else if (a == "--bodyless")
            o.bodyless = true;
        else if (a == "--look")
            o.look = lookFromName(value());
        else if (a == "--masculine")
            o.masculine = true;
        else if (a == "--blur")
            o.blur = true;
        else if (a == "--background")
            o.background = value();
        else if (a == "--visitor")
            o.visitor = value();
        else if (a == "--threads")
            o.threads = readInteger(value());
        else if (a == "--software")
            o.software = true;
        else if (a == "--frames")
            o.frames = readInteger(value());
        else if (a == "--dump")
            o.dumpPath = value();
        else if (a == "--dump-at")
            o.dumpAt = readInteger(value());
        else if (a == "--record")
            o.record = value();
        else if (a == "--no-camera")
            s.noCamera = true;
        else if (a == "--no-engine")
            s.noEngine = true;
        else if (a == "--check-camera")
            s.checkCamera = true;
    }
    if (switches) {
        switches->noCamera = s.noCamera;
        switches->noEngine = s.noEngine;
        switches->checkCamera = s.checkCamera;
    }
    return o;
}

}  // namespace qm
