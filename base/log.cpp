#include "base/log.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/paths.h"
#include "platform/system_log.h"

namespace qm {
namespace {

constexpr size_t kMessageChars = 2048;
// A log past this size is renamed to "<name>.1" (replacing the one before) and begun afresh, so a program
// that runs for weeks keeps at most two files of this size.
constexpr long kLogRotateBytes = 4L * 1024 * 1024;

// The path is set once by start-up before other threads log; the mutex only guards tests that reset it.
std::mutex pathMutex;
std::string currentPath;

// Cuts a string to at most `limit` bytes and drops a UTF-8 sequence left incomplete at its end.
void cutUtf8(char* text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length])
        ++length;
    text[length] = '\0';
    size_t lead = length;
    while (lead > 0 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0) return;
    unsigned char first = static_cast<unsigned char>(text[lead - 1]);
    size_t needed = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (length - (lead - 1) < needed) text[lead - 1] = '\0';
}

// rename() is atomic: a writer appending at the same moment lands its line in one file or the other.
void rotateLogFile(const std::string& path) {
    std::rename(path.c_str(), (path + ".1").c_str());
}

}  // namespace

std::string formatLogLine(unsigned hours, unsigned minutes, unsigned seconds, unsigned millis,
                          const char* message) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%02u:%02u:%02u.%03u ", hours % 100, minutes % 100, seconds % 100,
                  millis % 1000);
    return std::string(prefix) + message;
}

void logLine(const char* format, ...) {
    char message[kMessageChars + 4];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(message, kMessageChars, format, args);
    va_end(args);
    if (written < 0) return;
    cutUtf8(message, kMessageChars - 1);

    sendToSystemLog(message);

    std::string path = logPath();
    if (path.empty()) return;
    FILE* file = std::fopen(path.c_str(), "a");
    if (!file) return;
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    std::string line = formatLogLine(static_cast<unsigned>(local.tm_hour),
                                     static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec),
                                     static_cast<unsigned>(now.tv_usec / 1000), message);
    line += '\n';
    // One write call per line: appends from several threads and processes stay whole.
    std::fwrite(line.data(), 1, line.size(), file);
    const long size = std::ftell(file);
    std::fclose(file);
    if (size > kLogRotateBytes) rotateLogFile(path);
}

std::string chooseLogFile(const std::string& programDir, const std::string& fallbackDir) {
    std::string path = programDir + "Quillmere.log";
    if (FILE* file = std::fopen(path.c_str(), "a")) {
        std::fclose(file);
        setLogPath(path);
        return path;
    }
    if (fallbackDir.empty() || !ensureDirectory(fallbackDir)) {
        setLogPath({});
        return {};
    }
    std::string dir = fallbackDir;
    if (dir.back() != '/') dir += '/';
    path = dir + "Quillmere.log";
    unlink(path.c_str());
    setLogPath(path);
    return path;
}

void setLogPath(const std::string& path) {
    std::lock_guard lock(pathMutex);
    currentPath = path;
}

std::string logPath() {
    std::lock_guard lock(pathMutex);
    return currentPath;
}

}  // namespace qm
