#include "platform/shared_library.h"

#include <dlfcn.h>

namespace qm {

void* openLibrary(const std::string& path, std::string* error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library && error) {
        const char* why = dlerror();
        *error = why ? why : "unknown error";
    }
    return library;
}

void* librarySymbol(void* library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}

void closeLibrary(void* library) {
    if (library) dlclose(library);
}

}  // namespace qm
