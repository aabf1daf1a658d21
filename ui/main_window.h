// The main window on GTK 3: the preview and the side panel, drawn entirely with Cairo and Pango on one
// drawing area, plus the scene-name entry. Created by start-up in window mode on the main thread; runs
// the main loop until the window closes. The engine thread reaches it only through the notify callback
// it publishes in the shared state.
#pragma once

#include <string>

#include "base/launch_options.h"

namespace qm {

// Creates the window over the settings start-up loaded, runs the loop, tears down. Returns 0 after a
// normal close, 1 when the window cannot be created (no display).
int runMainWindow(LaunchOptions& options);

// The error dialog shown when the virtual camera cannot be started ("0x%08X %s" text); returns when
// the user closes it. Does nothing without a display.
void showCameraFailureDialog(const std::string& text);

}  // namespace qm
