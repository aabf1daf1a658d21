// Fuzz target: any bytes as a settings file. Parsing, lookups, edits and a round trip must never crash,
// and an untouched document must serialise back to the same lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/ini.h"
#include "settings/libraries.h"
#include "settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    qm::IniDocument ini = qm::IniDocument::parse(text);
    for (const std::string& section : ini.sectionNames()) {
        ini.getString(section, "face", "", 255);
        ini.getInt(section, "face", 1);
        qm::Fit fit;
        qm::parseFit(ini.getString(section, "face_fit", ""), &fit);
        qm::readPhotoFit(ini, section.size() > 5 ? section.substr(5) : section);
    }
    std::string once = ini.serialize();
    if (qm::IniDocument::parse(once).serialize() != once) __builtin_trap();
    ini.set("quillmere", "face", "3");
    ini.removeKey("look", "look");
    ini.removeSection("wear");
    if (ini.getInt("QUILLMERE", "Face", 0) != 3) __builtin_trap();
    return 0;
}
