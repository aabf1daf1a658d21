// The real window over a stand-in engine, for the window scenarios under Xvfb while no engine is built
// into the program. The stand-in behaves like the engine towards the window: it reports "starting",
// then "running" with a source label and a frame time, sends a 1280 × 720 frame 30 times a second
// through previewBuffer / previewReady / previewPosted and the notify callback, and draws its "filter"
// (an orange disc) only while filtersOn is published. Writing a status number into the file named by
// QM_FAKE_ENGINE_STATUS switches the reported status (for example 4, camera off); QM_FAKE_ENGINE_STILL
// keeps the picture still (for comparing screenshots).
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/main/startup.h"
#include "platform/event.h"
#include "settings/settings_file.h"
#include "settings/shared_state.h"
#include "ui/main_window.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720;
std::atomic<bool> stopRequested{false};
std::thread engineThread;
qm::Event ended;

// The "camera picture": a blue-grey vertical gradient with a white bar that moves.
void drawFrame(std::vector<uint8_t>& frame, int frameNumber, bool filtersOn) {
    int bar = (frameNumber * 8) % kWidth;
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = frame.data() + static_cast<size_t>(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* px = row + x * 4;
            bool onBar = x >= bar && x < bar + 40;
            px[0] = onBar ? 255 : static_cast<uint8_t>(120 + y * 100 / kHeight);  // blue
            px[1] = onBar ? 255 : static_cast<uint8_t>(80 + y * 60 / kHeight);    // green
            px[2] = onBar ? 255 : 60;                                             // red
            px[3] = 255;
            if (filtersOn) {
                float dx = x - kWidth / 2.0f, dy = y - kHeight / 2.0f;
                if (dx * dx + dy * dy < 200.0f * 200.0f) px[0] = 40, px[1] = 150, px[2] = 250;
            }
        }
    }
}

int statusOverride() {
    const char* path = std::getenv("QM_FAKE_ENGINE_STATUS");
    if (!path) return -1;
    std::ifstream file(path);
    int status = -1;
    if (file >> status) return status;
    return -1;
}

void setStatus(qm::SharedState& shared, int status) {
    if (shared.status.exchange(status) == status) return;
    if (qm::EngineNotify notify = shared.notify.load()) notify(qm::kNoticeStatus);
}

void runFakeEngine() {
    qm::SharedState& shared = qm::sharedState();
    std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 4);
    auto start = std::chrono::steady_clock::now();
    const bool still = std::getenv("QM_FAKE_ENGINE_STILL") != nullptr;
    for (int n = 0; !stopRequested; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        int wanted = statusOverride();
        if (wanted < 0) wanted = seconds < 1.0 ? qm::kStatusNone : qm::kStatusRunning;
        if (wanted == qm::kStatusRunning) {
            std::lock_guard lock(shared.filterLock);
            shared.sourceLabel = "sample.mp4";
        }
        setStatus(shared, wanted);
        if (wanted != qm::kStatusRunning) continue;
        shared.frameMs = 11.5f;
        drawFrame(frame, still ? 25 : n, shared.filters.filtersOn.load());
        {
            std::lock_guard lock(shared.filterLock);
            shared.previewBuffer = frame;
            shared.previewReady = true;
        }
        if (!shared.previewPosted.exchange(true)) {
            if (qm::EngineNotify notify = shared.notify.load())
                notify(qm::kNoticeNewFrame);
            else
                shared.previewPosted = false;
        }
    }
    ended.set();
}

}  // namespace

int main(int argc, char** argv) {
    qm::StartupServices services;
    services.loadSettings = [](qm::LaunchOptions& options) { qm::loadSettingsForLaunch(options); };
    services.runWindow = [](qm::LaunchOptions& options) { qm::runMainWindow(options); };
    services.startEngine = [](const qm::LaunchOptions&) -> const qm::Event* {
        engineThread = std::thread(runFakeEngine);
        return &ended;
    };
    services.stopEngine = [] {
        stopRequested = true;
        if (engineThread.joinable()) engineThread.join();
    };
    // "--fail-camera": the virtual camera cannot start; the window-mode dialog is shown.
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--fail-camera")
            services.startVirtualCamera = [](const qm::LaunchOptions&, bool headless) {
                if (!headless) qm::showCameraFailureDialog("0x80070002 No such file or directory");
                return false;
            };
    return qm::runQuillmere(argc, argv, services);
}
