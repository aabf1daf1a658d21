#include "platform/stop_signal.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>

namespace qm {

struct StopSignal::Shared {
    std::atomic<unsigned> generation;
};
static_assert(sizeof(std::atomic<unsigned>) == sizeof(unsigned), "futex word must be a plain 32-bit int");

namespace {

constexpr size_t kObjectSize = 64;

// Per user: another user's runs never see this user's signal, and cannot hold its name.
std::string objectName(const std::string& name) {
    return "/" + name + "." + std::to_string(getuid());
}

StopSignal::Shared* mapObject(int fd, int* error) {
    void* view = mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        *error = errno;
        return nullptr;
    }
    return static_cast<StopSignal::Shared*>(view);
}

}  // namespace

std::unique_ptr<StopSignal> StopSignal::open(const std::string& name, int* error) {
    int fd = shm_open(objectName(name).c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    struct stat st {};
    // A new object is empty; growing it to the same size again is harmless if two runs race here.
    if (fstat(fd, &st) != 0 ||
        (static_cast<size_t>(st.st_size) < kObjectSize && ftruncate(fd, kObjectSize) != 0)) {
        *error = errno;
        close(fd);
        return nullptr;
    }
    Shared* shared = mapObject(fd, error);
    close(fd);
    if (!shared) return nullptr;
    unsigned baseline = shared->generation.load();
    return std::unique_ptr<StopSignal>(new StopSignal(shared, baseline));
}

bool StopSignal::raise(const std::string& name, int* error) {
    int fd = shm_open(objectName(name).c_str(), O_RDWR, 0600);
    if (fd < 0) {
        if (errno == ENOENT) return true;  // nobody has ever waited on it
        *error = errno;
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<size_t>(st.st_size) < kObjectSize) {
        close(fd);
        return true;  // still being created: its creator takes the new baseline anyway
    }
    Shared* shared = mapObject(fd, error);
    close(fd);
    if (!shared) return false;
    shared->generation.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<unsigned*>(&shared->generation), FUTEX_WAKE, INT_MAX, nullptr,
            nullptr, 0);
    munmap(shared, kObjectSize);
    return true;
}

StopSignal::~StopSignal() {
    munmap(shared_, kObjectSize);
}

bool StopSignal::raised() const {
    return shared_->generation.load() != baseline_;
}

void StopSignal::wait(const std::function<bool()>& alsoStop) const {
    while (!raised()) {
        if (alsoStop && alsoStop()) return;
        timespec timeout{0, 50'000'000};
        syscall(SYS_futex, reinterpret_cast<unsigned*>(&shared_->generation), FUTEX_WAIT, baseline_, &timeout,
                nullptr, 0);
    }
}

}  // namespace qm
