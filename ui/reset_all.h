// "Reset all": every face, wear item, body and background off and every placement and slider back to its
// start, including each face photo's own fit. The switches (filters, mirror), the camera, the tab and the
// libraries stay.
#pragma once

#include "ui/panel.h"

namespace qm {

constexpr const char* kResetAllQuestion = "Reset everything to default?";
constexpr const char* kResetAllText =
    "Turns off every face, accessory, body and background, and puts every size, position and slider back "
    "to where it started.";

// Performs the reset (the window asks first), publishes, saves and repaints.
void resetEverything(Panel& panel);

}  // namespace qm
