// engine_bench: the engine's per-frame figures on the sample video, as its own statistics line reports
// them, for --plain and for the face path, with the companion recording the frames; then the
// companion's processor time per frame. Run from the repository root or give the sample's path:
//
//   build/bin/engine_bench [data/sample.mp4]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/log.h"
#include "engine/engine.h"
#include "platform/paths.h"

namespace {

using namespace qm;

pid_t startCompanion(const std::string& section, const std::string& output, const std::string& errors) {
    pid_t pid = fork();
    if (pid == 0) {
        int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) dup2(err, 2);
        std::string path = executableDir() + "quillmere-vcam";
        execl(path.c_str(), path.c_str(), "--section", section.c_str(), "--output", output.c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the engine on the file for `frames` frames and prints its statistics lines.
void run(const char* title, const std::string& sample, bool plain, int frames) {
    char folder[] = "/tmp/qmbench-XXXXXX";
    if (!mkdtemp(folder)) return;
    std::string logFile = std::string(folder) + "/log.txt", errors = std::string(folder) + "/vcam.txt";
    std::string section = "/qmbench-" + std::to_string(getpid());
    setLogPath(logFile);
    pid_t companion = startCompanion(section, std::string(folder) + "/out.mp4", errors);
    usleep(300000);

    SharedState shared;
    EngineSetup setup = programEngineSetup();
    setup.shared = &shared;
    setup.sectionName = section;
    LaunchOptions options;
    options.file = sample;
    options.frames = frames;
    options.plain = plain;
    {
        Engine engine(setup);
        engine.start(options)->wait();
    }
    kill(companion, SIGTERM);
    waitpid(companion, nullptr, 0);
    setLogPath("");

    std::printf("== %s (%d frames of %s)\n", title, frames, sample.c_str());
    std::string log = readAll(logFile);
    for (size_t at = log.find("stats: "); at != std::string::npos; at = log.find("stats: ", at + 1))
        std::printf("%s\n", log.substr(at, log.find('\n', at) - at).c_str());
    std::printf("%s", readAll(errors).c_str());
    std::system(("rm -rf " + std::string(folder)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::string sample = argc > 1 ? argv[1] : "data/sample.mp4";
    if (access(sample.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "engine_bench: cannot read %s (run scripts/bootstrap first)\n", sample.c_str());
        return 1;
    }
    run("--plain", sample, true, 270);
    run("face path (--face morvel)", sample, false, 270);
    return 0;
}
