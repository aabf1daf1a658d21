// 32-bit status codes that log in the "0x%08X" form. Errno values map to 0x8007xxxx; libraries register
// translators for their own codes so every status has a readable message.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

using HResult = uint32_t;

constexpr HResult kOk = 0;
constexpr HResult kFail = 0x80004005;      // unspecified failure
constexpr HResult kNotFound = 0x80070490;  // "no camera found" and other missing things
constexpr HResult kInvalidData = 0x8007000D;

constexpr bool failed(HResult hr) {
    return (hr & 0x80000000u) != 0;
}
constexpr HResult hresultFromErrno(int error) {
    return 0x80070000u | (static_cast<uint32_t>(error) & 0xFFFFu);
}

// Fills *message for the codes a library owns and returns true; false leaves the code to others.
using StatusTranslator = bool (*)(HResult hr, std::string* message);
void addStatusTranslator(StatusTranslator translator);

// The system message for a status: strerror for errno codes, a registered translator otherwise.
std::string statusMessage(HResult hr);

}  // namespace qm
