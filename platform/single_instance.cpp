#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/paths.h"

namespace qm {
namespace {

constexpr char kPresentRequest[] = "present\n";

std::mutex handlerMutex;
std::function<void()> presentHandler;

void runPresentHandler() {
    std::function<void()> handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = presentHandler;
    }
    if (handler) handler();
}

bool socketAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size());
    return true;
}

}  // namespace

void setPresentHandler(std::function<void()> handler) {
    std::lock_guard lock(handlerMutex);
    presentHandler = std::move(handler);
}

struct InstanceLock::Listener {
    int socketFd = -1;
    int wakePipe[2] = {-1, -1};
    std::string path;
    std::thread thread;

    void run() {
        for (;;) {
            pollfd fds[2] = {{socketFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            if (!(fds[0].revents & POLLIN)) continue;
            int client = accept(socketFd, nullptr, nullptr);
            if (client < 0) continue;
            // A client that connects and says nothing must not stall the listener.
            pollfd clientPoll{client, POLLIN, 0};
            char buffer[16] = {};
            if (poll(&clientPoll, 1, 500) > 0) {
                ssize_t n = read(client, buffer, sizeof buffer - 1);
                if (n > 0 && std::strncmp(buffer, kPresentRequest, sizeof kPresentRequest - 1) == 0)
                    runPresentHandler();
            }
            close(client);
        }
    }

    ~Listener() {
        if (wakePipe[1] >= 0) {
            char byte = 1;
            (void)!write(wakePipe[1], &byte, 1);
        }
        if (thread.joinable()) thread.join();
        if (socketFd >= 0) {
            close(socketFd);
            unlink(path.c_str());
        }
        for (int fd : wakePipe)
            if (fd >= 0) close(fd);
    }
};

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name, bool* otherInstance) {
    *otherInstance = false;
    std::string base = runtimeDir() + name;
    int fd = ::open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *otherInstance = (errno == EWOULDBLOCK);
        close(fd);
        return nullptr;
    }
    std::unique_ptr<InstanceLock> lock(new InstanceLock());
    lock->lockFd_ = fd;

    // The lock is ours, so any socket file left here belongs to an instance that has ended.
    auto listener = std::make_unique<Listener>();
    listener->path = base + ".sock";
    sockaddr_un address;
    if (!socketAddress(listener->path, &address)) return lock;
    unlink(listener->path.c_str());
    listener->socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener->socketFd < 0 ||
        bind(listener->socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener->socketFd, 4) != 0 || pipe2(listener->wakePipe, O_CLOEXEC) != 0) {
        return lock;  // single instance still holds through the lock; only the hand-over is missing
    }
    Listener* raw = listener.get();
    listener->thread = std::thread([raw] { raw->run(); });
    lock->listener_ = std::move(listener);
    return lock;
}

bool InstanceLock::askToPresent(const std::string& name) {
    sockaddr_un address;
    if (!socketAddress(runtimeDir() + name + ".sock", &address)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool delivered = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     write(fd, kPresentRequest, sizeof kPresentRequest - 1) == sizeof kPresentRequest - 1;
    close(fd);
    return delivered;
}

InstanceLock::~InstanceLock() {
    listener_.reset();
    if (lockFd_ >= 0) close(lockFd_);
}

}  // namespace qm
