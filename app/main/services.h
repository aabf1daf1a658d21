// The subsystems this program is built with, as start-up services.
#pragma once

#include "app/main/startup.h"

namespace qm {

StartupServices programServices();

}  // namespace qm
