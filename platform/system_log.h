// The system log (syslog, ident "quillmere") receives a copy of every log line while it is open.
// Opened once by start-up before other threads exist and closed by shutdown after they ended.
#pragma once

namespace qm {

void openSystemLog();
void closeSystemLog();
bool systemLogOpen();
void sendToSystemLog(const char* message);

}  // namespace qm
