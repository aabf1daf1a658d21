// The process-wide text log. Any thread writes whole lines with logLine; each line is opened, appended
// and closed on its own, so lines from several threads interleave whole and the file may be read or
// deleted while the program runs. Every line also goes to the system log while that is open.
#pragma once

#include <string>

namespace qm {

// printf-style, UTF-8. The message is cut to 2047 bytes (never inside a UTF-8 sequence). Once the file
// passes 4 MiB it becomes "<file>.1" (replacing the previous one) and the next line starts a new file.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Chooses the log file once at start-up: "Quillmere.log" in the program folder when it can be appended
// to (it grows from run to run), otherwise in the fallback folder, emptied so it holds only this run.
// Returns the chosen path (empty when neither works: lines then reach the system log only).
std::string chooseLogFile(const std::string& programDir, const std::string& fallbackDir);

void setLogPath(const std::string& path);
std::string logPath();

// Formats the line written to the file for a message at the given local time (without the newline).
std::string formatLogLine(unsigned hours, unsigned minutes, unsigned seconds, unsigned millis,
                          const char* message);

}  // namespace qm
