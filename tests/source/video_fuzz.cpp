// Fuzz target: any bytes as a video file, opened and decoded the way the file source does it: the open
// may fail, but it must never crash, hang, or hand out a frame whose size and bytes disagree. A few reads
// per pass are enough to reach every decoder path; more only repeat them (each frame may be 9 megapixels).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "source/video_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<qm::VideoBackend> backend = qm::makeSystemVideoBackend();
    int fd = memfd_create("video_fuzz", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    std::unique_ptr<qm::VideoReader> reader;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    uint32_t width = 0, height = 0;
    if (!qm::failed(backend->openFile(path, &reader)) && reader &&
        !qm::failed(reader->startOutput(&width, &height))) {
        for (int pass = 0; pass < 2; ++pass) {
            for (int attempt = 0; attempt < 8; ++attempt) {
                qm::ReadResult frame = reader->readSample();
                if (frame.kind == qm::ReadKind::EndOfStream || frame.kind == qm::ReadKind::Failed) break;
                if (frame.sizeChanged) width = frame.width, height = frame.height;
                if (frame.kind != qm::ReadKind::Sample) continue;
                if (!frame.pixels || frame.width != width || frame.height != height ||
                    frame.pitch < static_cast<long>(width) * 4 ||
                    frame.bytes < static_cast<size_t>(frame.pitch) * height)
                    __builtin_trap();
                volatile uint8_t last = frame.pixels[frame.bytes - 1];
                (void)last;
            }
            if (qm::failed(reader->rewind())) break;
        }
    }
    reader.reset();
    close(fd);
    return 0;
}
