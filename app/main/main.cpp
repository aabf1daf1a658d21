// Entry point: --help, --version, --stop and --check-camera are answered here; everything else runs the
// start-up sequence with the subsystems built into this program.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/check_camera.h"
#include "app/main/services.h"
#include "app/main/startup.h"
#include "base/launch_options.h"
#include "platform/camera_setup.h"
#include "platform/paths.h"
#include "platform/process_usage.h"

namespace {

constexpr const char* kUsage =
    "Usage: quillmere [options]\n"
    "Turns the camera picture into a filtered picture and offers it as the camera \"Quillmere\".\n"
    "\n"
    "Modes:\n"
    "  (default)            window mode: the preview and the filter panel\n"
    "  --headless           no window; run until `quillmere --stop`, SIGTERM or --frames\n"
    "  --stop               ask every running headless instance to stop\n"
    "  --check-camera       check what serving the camera needs here and print the fixes\n"
    "  --help, --version\n"
    "\n"
    "Source:\n"
    "  --camera NAME        use the camera whose name contains NAME\n"
    "  --file PATH          play a video file in a loop instead of a camera\n"
    "\n"
    "Filters:\n"
    "  --face NAME          morvel, orange, banana, kitten, googly, custom or none\n"
    "  --custom PATH        picture for the custom face\n"
    "  --my-eyes, --my-mouth  show your own eyes / mouth through a photo face\n"
    "  --neck N, --tilt DEGREES, --exposure N, --warmth N\n"
    "  --hair, --hat, --glasses, --beard NAME   wear items (\"none\" clears)\n"
    "  --torso NAME, --bodyless, --visitor NAME\n"
    "  --look natural|glam|bold, --masculine\n"
    "  --blur, --background PATH\n"
    "  --plain              draw no filters\n"
    "\n"
    "Engine and output:\n"
    "  --cpu                run the models on the processor\n"
    "  --threads N          model thread count (0: chosen for this machine)\n"
    "  --software           cheap drawing path\n"
    "  --frames N           stop after N frames (0: run forever)\n"
    "  --dump PATH, --dump-at N   write frame N (default 60) as a bitmap\n"
    "  --record FILE        record the session to a video file instead of a camera device\n"
    "  --open N, --blink    force the mouth open / the eyes closed (testing)\n"
    "  --no-camera          do not start the virtual camera\n"
    "  --no-engine          do not start the engine\n";

// The sample configuration files of an installed program (PREFIX/lib/quillmere/ beside
// PREFIX/share/doc/quillmere/examples/); empty when this program is not an installed one.
std::string installedExamples() {
    const std::string& dir = qm::executableDir();
    const std::string tail = "/lib/quillmere/";
    if (dir.size() < tail.size() || dir.compare(dir.size() - tail.size(), tail.size(), tail) != 0) return {};
    const std::string examples = dir.substr(0, dir.size() - tail.size()) + "/share/doc/quillmere/examples/";
    return qm::isDirectory(examples) ? examples : std::string();
}

// Before anything else in start-up: no window, no engine, no lock, no log.
int checkCameraSetup() {
    const qm::CameraCheck check = qm::checkCamera(qm::probeCameraSetup(), installedExamples());
    std::fputs(check.report.c_str(), stdout);
    return check.works ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Quillmere %s\n", QM_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--stop") == 0) return qm::raiseStopSignal();
    }
    qm::LaunchSwitches switches;
    qm::parseLaunchOptions(std::vector<std::string>(argv + 1, argv + argc), &switches);
    if (switches.checkCamera) return checkCameraSetup();
    qm::returnLargeBlocksWhenFreed();
    return qm::runQuillmere(argc, argv, qm::programServices());
}
