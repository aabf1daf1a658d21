#include "ui/reset_all.h"

#include "settings/ini.h"
#include "settings/settings_file.h"

namespace qm {

void resetEverything(Panel& panel) {
    FilterState& s = panel.state;
    s.face = kFaceNone;
    s.faceFit = Fit{};
    for (int slot = 0; slot < kWearSlots; ++slot) {
        s.wear[slot].clear();
        s.wearFit[slot] = Fit{};
    }
    s.torso.clear();
    s.torsoFit = Fit{};
    s.bodyless = false;
    s.head = 1;
    s.look = kLookNone;
    s.strength = 1;
    s.background = "none";
    s.visitor.clear();
    s.visitorFit = Fit{};
    s.visitorEvery = 15;
    s.ghost = false;
    s.photoFit = PhotoFit{};
    // Every photo's own fit goes too; the settings save below keeps the rest of the file.
    IniDocument settings = readIniFile(panel.paths.settingsFile);
    for (const std::string& id : panel.lists.faceIds)
        settings.removeSection("face." + id);
    writeIniFile(panel.paths.settingsFile, settings);
    panel.ui.fitSlot = -1;
    panel.ui.statusMessage = "Everything is back to default.";
    applyChange(panel, true);
}

}  // namespace qm
