#include "base/status.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace qm {
namespace {
std::mutex translatorMutex;
std::vector<StatusTranslator>& translators() {
    static std::vector<StatusTranslator> list;
    return list;
}
}  // namespace

void addStatusTranslator(StatusTranslator translator) {
    std::lock_guard lock(translatorMutex);
    for (StatusTranslator existing : translators())
        if (existing == translator) return;
    translators().push_back(translator);
}

std::string statusMessage(HResult hr) {
    switch (hr) {
        case kOk:
            return "The operation completed successfully.";
        case kFail:
            return "Unspecified error";
        case kNotFound:
            return "Element not found.";
        default:
            break;
    }
    if ((hr & 0xFFFF0000u) == 0x80070000u) {
        char buffer[256];
        // GNU strerror_r returns the text, which may or may not live in our buffer.
        return strerror_r(static_cast<int>(hr & 0xFFFFu), buffer, sizeof buffer);
    }
    {
        std::lock_guard lock(translatorMutex);
        std::string message;
        for (StatusTranslator translate : translators())
            if (translate(hr, &message)) return message;
    }
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "Unknown error 0x%08X", hr);
    return buffer;
}

}  // namespace qm
