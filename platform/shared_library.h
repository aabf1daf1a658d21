// Libraries loaded at run time (the model runtime beside the program). A loaded library stays loaded for
// the whole process.
#pragma once

#include <string>

namespace qm {

// Loads the library with its symbols kept to itself; null with the system's reason in *error.
void* openLibrary(const std::string& path, std::string* error);
// The named symbol of a loaded library; null when it has none.
void* librarySymbol(void* library, const char* name);
void closeLibrary(void* library);

}  // namespace qm
