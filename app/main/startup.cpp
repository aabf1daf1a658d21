#include "app/main/startup.h"

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "base/failure.h"
#include "base/log.h"
#include "platform/event.h"
#include "platform/paths.h"
#include "platform/single_instance.h"
#include "platform/stop_signal.h"
#include "platform/system_log.h"
#include "platform/termination.h"

namespace qm {
namespace {

void waitHeadless(const LaunchOptions& options, const Event* ended,
                  const std::function<bool()>& engineFailed) {
    int error = 0;
    std::unique_ptr<StopSignal> stop = StopSignal::open(kStopSignalName, &error);
    // With a frame count the engine's end ends the run; without one, only an end on an error does (an
    // engine that gave up would otherwise leave the run idling for good).
    auto engineDone = [&] {
        return ended && ended->isSet() && (options.frames != 0 || (engineFailed && engineFailed()));
    };
    if (!stop) {
        logLine("no stop event (error %u), running until ended", static_cast<unsigned>(error));
        while (!terminationRequested() && !engineDone())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return;
    }
    stop->wait([&] { return terminationRequested() || engineDone(); });
}

}  // namespace

int runQuillmere(int argc, char** argv, const StartupServices& services) {
    // 1-2. Headless from the raw command line; everything else from the argument vector.
    LaunchSwitches switches;
    switches.headless = commandLineSelectsHeadless(joinCommandLine(argc, argv));
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    LaunchOptions options = parseLaunchOptions(args, &switches);
    // SIGINT and SIGTERM end every run in order, headless or with the window.
    catchTerminationSignals();

    // 4. Settings merge (window mode only).
    if (!switches.headless && services.loadSettings) services.loadSettings(options);

    // 5. Log file.
    chooseLogFile(executableDir(), stateRoot());

    // 6. One window-mode instance per user: a second start shows the first window and leaves quietly.
    std::unique_ptr<InstanceLock> instance;
    if (!switches.headless) {
        bool otherInstance = false;
        instance = InstanceLock::acquire(kInstanceLockName, &otherInstance);
        if (otherInstance) {
            InstanceLock::askToPresent(kInstanceLockName);
            return 0;
        }
    }

    // 7-9. System log, first line, failure reports.
    openSystemLog();
    logLine("starting%s", switches.headless ? " (headless)" : "");
    installFailureCallback(logFailure);

    int exitCode = 0;
    bool cameraStarted = false;
    // 12. Virtual camera.
    if (!switches.noCamera && services.startVirtualCamera) {
        cameraStarted = services.startVirtualCamera(options, switches.headless);
        if (!cameraStarted) exitCode = 1;
    }

    if (exitCode == 0) {
        // 13. Engine.
        const Event* ended = nullptr;
        bool engineStarted = false;
        if (!switches.noEngine && services.startEngine) {
            ended = services.startEngine(options);
            engineStarted = true;
        }
        // 14. Wait (headless) or run the window.
        if (switches.headless)
            waitHeadless(options, ended, services.engineFailed);
        else if (services.runWindow)
            services.runWindow(options);
        // 15. Engine stop. A headless run whose engine ended on an error says so in its exit code.
        if (engineStarted && services.stopEngine) services.stopEngine();
        if (engineStarted && switches.headless && services.engineFailed && services.engineFailed()) {
            logLine("the engine stopped on an error");
            exitCode = 1;
        }
    }

    // 16. Virtual camera removal.
    if (cameraStarted && services.removeVirtualCamera) {
        HResult hr = services.removeVirtualCamera();
        logLine("camera removed, hr 0x%08X", hr);
    }

    // 17. Last line; the system log closes first so later lines only reach the file.
    logLine("exiting, code %d", exitCode);
    closeSystemLog();
    instance.reset();
    return exitCode;
}

int raiseStopSignal() {
    int error = 0;
    if (!StopSignal::raise(kStopSignalName, &error)) {
        std::fprintf(stderr, "quillmere: cannot raise the stop signal: %s\n", std::strerror(error));
        return 1;
    }
    return 0;
}

}  // namespace qm
