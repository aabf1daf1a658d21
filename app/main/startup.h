// The program's start and stop sequence. Start-up owns the order; each subsystem plugs in through one
// of the services below, which the entry point fills with what is built into this program. A service
// left empty is skipped (the subsystem is not part of this build).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/launch_options.h"
#include "base/status.h"

namespace qm {

class Event;

struct StartupServices {
    // Window mode, before the log is chosen: load the settings file and merge it with the command line.
    std::function<void(LaunchOptions& options)> loadSettings;
    // Creates and starts the virtual camera; false after a failure (already logged and shown).
    std::function<bool(const LaunchOptions& options, bool headless)> startVirtualCamera;
    // Removes it again; the result is logged as "camera removed, hr 0x%08X".
    std::function<HResult()> removeVirtualCamera;
    // Starts the engine thread; returns its ended event (set when the engine thread finishes).
    std::function<const Event*(const LaunchOptions& options)> startEngine;
    // Sets the engine's stop flag and joins its thread.
    std::function<void()> stopEngine;
    // After the stop: whether the engine ended on an error.
    std::function<bool()> engineFailed;
    // Window mode: creates the main window and runs its loop until the window closes.
    std::function<void(LaunchOptions& options)> runWindow;
};

// Names of the program's per-user and machine-wide objects.
constexpr const char* kInstanceLockName = "QuillmereApp";
constexpr const char* kStopSignalName = "QuillmereStop";

// Runs the whole sequence for the command line and returns the exit code.
int runQuillmere(int argc, char** argv, const StartupServices& services);

// Asks headless instances to stop ("quillmere --stop"); returns the exit code.
int raiseStopSignal();

}  // namespace qm
