#include "platform/shared_library.h"

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace qm {
namespace {

// A 64-bit ELF file whose loadable parts all lie inside it. The loader maps them straight from the file:
// a part beyond a cut file's end would fault the process (SIGBUS) at the first touch, not fail the load.
bool wholeElfFile(const std::string& path, std::string* why) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        *why = "cannot open the file";
        return false;
    }
    const auto size = static_cast<uint64_t>(file.tellg());
    Elf64_Ehdr header{};
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(&header), sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
        *why = "not a 64-bit library file";
        return false;
    }
    if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0 || header.e_phnum > 4096 ||
        header.e_phoff > size || size - header.e_phoff < uint64_t(header.e_phnum) * sizeof(Elf64_Phdr) ||
        header.e_shoff > size || size - header.e_shoff < uint64_t(header.e_shnum) * header.e_shentsize) {
        *why = "the library file is cut short or damaged";
        return false;
    }
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    file.seekg(static_cast<std::streamoff>(header.e_phoff));
    if (!file.read(reinterpret_cast<char*>(segments.data()), segments.size() * sizeof(Elf64_Phdr))) {
        *why = "the library file is cut short or damaged";
        return false;
    }
    for (const Elf64_Phdr& segment : segments)
        if (segment.p_type == PT_LOAD &&
            (segment.p_offset > size || size - segment.p_offset < segment.p_filesz)) {
            *why = "the library file is cut short or damaged";
            return false;
        }
    return true;
}

}  // namespace

void* openLibrary(const std::string& path, std::string* error) {
    std::string why;
    if (!wholeElfFile(path, &why)) {
        if (error) *error = why;
        return nullptr;
    }
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library && error) {
        const char* reason = dlerror();
        *error = reason ? reason : "unknown error";
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
