// Small real video files for tests, made with the ffmpeg program in a private temporary folder.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace qm::test {

// Runs ffmpeg quietly; true on success.
inline bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -v error -y " + arguments + " </dev/null").c_str()) == 0;
}

// `frames` frames of a moving test pattern, width × height, 30 per second.
inline bool makeTestVideo(const std::string& path, int width, int height, int frames) {
    return ffmpeg("-f lavfi -i testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
                  ":rate=30 -frames:v " + std::to_string(frames) +
                  " -pix_fmt yuv420p -c:v libx264 -preset ultrafast " + path);
}

// A transport stream whose frame size changes after `framesEach` frames.
inline bool makeSizeChangingVideo(const std::string& folder, const std::string& path, int framesEach) {
    std::string a = folder + "/a.ts", b = folder + "/b.ts";
    return makeTestVideo(a, 64, 48, framesEach) && makeTestVideo(b, 96, 64, framesEach) &&
           std::system(("cat " + a + " " + b + " > " + path).c_str()) == 0;
}

// Output of a command (stdout), trailing newline removed.
inline std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}

}  // namespace qm::test
