#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace qm {
namespace {

ChildExit exitFrom(int waitStatus) {
    ChildExit how;
    how.exited = WIFEXITED(waitStatus);
    how.code = how.exited ? WEXITSTATUS(waitStatus) : 0;
    return how;
}

}  // namespace

int startChild(const std::string& path, const std::vector<std::string>& args, int* child) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The exec error comes back through a close-on-exec pipe: a successful exec closes it empty.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return errno;
    pid_t pid = fork();
    if (pid < 0) {
        int error = errno;
        close(report[0]);
        close(report[1]);
        return error;
    }
    if (pid == 0) {
        close(report[0]);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        execv(path.c_str(), argv.data());
        int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int error = 0;
    ssize_t got;
    do
        got = read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        waitpid(pid, nullptr, 0);
        return error;
    }
    *child = pid;
    return 0;
}

bool childEnded(int pid, ChildExit* how) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return false;
    *how = exitFrom(status);
    return true;
}

ChildExit stopChild(int pid, std::chrono::milliseconds wait) {
    ChildExit how;
    if (childEnded(pid, &how)) return how;
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (childEnded(pid, &how)) return how;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return ChildExit{};
}

}  // namespace qm
