// Termination requests from outside: SIGINT and SIGTERM set a process-wide flag instead of ending the
// process, so the program shuts down in order; and a helper program that ends with its parent.
#pragma once

namespace qm {

// From now on SIGINT and SIGTERM only raise the flag below (which starts lowered); writes to a closed
// pipe fail instead of ending the process.
void catchTerminationSignals();
bool terminationRequested();

// This process gets SIGTERM when its parent dies. False when the parent is no longer `parentPid` (it died
// before the request was in place).
bool endWithParent(int parentPid);
// Whether the process that started us is still `parentPid`.
bool parentIs(int parentPid);

}  // namespace qm
