#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qm {

FileRead readRegularFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* bytes, int* error) {
    bytes->clear();
    int ignored = 0;
    int& why = error ? *error : ignored;
    why = 0;
    // O_NONBLOCK: opening a FIFO with no writer would otherwise wait for one.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = errno;
        return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Failed;
    }
    struct stat info {};
    FileRead result = FileRead::Ok;
    if (fstat(fd, &info) != 0) {
        why = errno;
        result = FileRead::Failed;
    } else if (!S_ISREG(info.st_mode)) {
        result = FileRead::NotRegular;
    } else if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        result = FileRead::TooLarge;
    } else {
        // The size may change while we read: never more than maxBytes, and stop at the end.
        bytes->resize(static_cast<size_t>(info.st_size));
        size_t got = 0;
        for (;;) {
            if (got == bytes->size()) {
                if (bytes->size() >= maxBytes) break;
                bytes->resize(std::min(maxBytes, bytes->size() + 65536));
            }
            const ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = errno;
                result = FileRead::Failed;
                break;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        if (result == FileRead::Ok && got == maxBytes) {
            // Grown past the bound while we read.
            uint8_t probe;
            if (read(fd, &probe, 1) == 1) result = FileRead::TooLarge;
        }
        bytes->resize(result == FileRead::Ok ? got : 0);
    }
    close(fd);
    return result;
}

}  // namespace qm
