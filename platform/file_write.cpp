#include "platform/file_write.h"

#include <unistd.h>

#include <cstdio>

namespace qm {

bool writeFileReplacing(const std::string& path, const void* data, size_t size) {
    if (path.empty()) return false;
    std::string temporary = path + ".tmp-" + std::to_string(getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    ok = std::fflush(file) == 0 && ok;
    ok = fsync(fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    std::remove(temporary.c_str());
    return false;
}

}  // namespace qm
