// quillmere-vcam: the virtual camera's companion. It creates the shared frame section, reads only
// complete frames from it, and serves them either to the v4l2loopback device labelled "Quillmere"
// (YUYV 1280 × 720 at 30 frames per second, a placeholder until the first frame, the last frame
// repeated while no new one comes) or, with --output FILE, records each frame once to a video file.
// It ends on SIGTERM / SIGINT or when the program that started it ends, leaving a complete file.
//
//   quillmere-vcam [--output FILE] [--section NAME] [--label LABEL] [--parent PID]
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/frame_section.h"
#include "platform/process_usage.h"
#include "platform/termination.h"
#include "platform/thread_priority.h"
#include "vcam/companion_codes.h"
#include "vcam/loopback.h"
#include "vcam/pipewire_camera.h"
#include "vcam/recorder.h"

namespace {

using namespace qm;
using Clock = std::chrono::steady_clock;

// How far the encoder steps back from the reader (nice steps).
constexpr int kEncoderNiceSteps = 10;

struct Arguments {
    std::string output;
    std::string section = kFrameSectionName;
    std::string label = kCameraLabel;
    pid_t parent = 0;
};

bool parseArguments(int argc, char** argv, Arguments* args) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        if (name == "--output")
            args->output = value;
        else if (name == "--section")
            args->section = value;
        else if (name == "--label")
            args->label = value;
        else if (name == "--parent")
            args->parent = static_cast<pid_t>(std::atoi(value.c_str()));
        else
            return false;
    }
    return !args->section.empty() && args->section[0] == '/';
}

bool keepRunning(const Arguments& args) {
    return !terminationRequested() && (args.parent == 0 || parentIs(args.parent));
}

void reportCost(int frames, int missed) {
    std::fprintf(stderr, "%s: %d frames, %d missed, cpu %.2f ms per frame\n", kCompanionName, frames, missed,
                 frames > 0 ? processCpu100ns() / 1e4 / frames : 0.0);
}

// Frames copied from the section wait here for the encoder, so a slow encode never makes the reader
// miss a frame. The pool starts small and grows while the encoder is behind, up to two seconds of frames.
class FrameQueue {
public:
    FrameQueue(size_t initialSlots, size_t maxSlots)
        : free_(initialSlots), slots_(initialSlots), maxSlots_(maxSlots) {
        for (auto& slot : free_)
            slot.resize(kFrameBytes);
    }
    std::vector<uint8_t> takeFree() {
        std::unique_lock lock(mutex_);
        if (free_.empty() && slots_ < maxSlots_) {
            ++slots_;
            return std::vector<uint8_t>(kFrameBytes);
        }
        changed_.wait(lock, [&] { return !free_.empty(); });
        std::vector<uint8_t> slot = std::move(free_.back());
        free_.pop_back();
        return slot;
    }
    void giveBack(std::vector<uint8_t> slot) {
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(slot));
        changed_.notify_all();
    }
    void push(std::vector<uint8_t> slot, uint64_t stamp) {
        std::lock_guard lock(mutex_);
        full_.push_back({std::move(slot), stamp});
        changed_.notify_all();
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    bool pop(std::vector<uint8_t>* slot, uint64_t* stamp) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !full_.empty() || closed_; });
        if (full_.empty()) return false;
        *slot = std::move(full_.front().first);
        *stamp = full_.front().second;
        full_.pop_front();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<uint8_t>> free_;
    std::deque<std::pair<std::vector<uint8_t>, uint64_t>> full_;
    size_t slots_;
    size_t maxSlots_;
    bool closed_ = false;
};

// Makes the frame section and sets its magic, so the program may link; false after saying why.
// `everyFrame`: the program is asked to wait for each frame to be taken (a recording).
bool createAndPublish(const Arguments& args, FrameSection& section, bool everyFrame) {
    int error = 0;
    if (!section.create(args.section, &error)) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", kCompanionName, args.section.c_str(),
                     std::strerror(error));
        return false;
    }
    if (everyFrame) setCameraOutputs(section.view(), kOutputRecording);
    section.publish(everyFrame);
    return true;
}

int record(const Arguments& args) {
    // The encoder runs on its own thread at a lower priority, and so do the threads FFmpeg starts for it
    // (they inherit it), so that on a busy machine the reader below still wakes in time for every frame.
    Recorder recorder;
    FrameQueue queue(4, 60);
    std::atomic<bool> encodeFailed{false};
    std::promise<std::string> opened;  // empty when the output file is open
    std::thread encoder([&] {
        lowerThisThreadPriority(kEncoderNiceSteps);
        std::string message;
        bool ready = recorder.open(args.output, &message);
        opened.set_value(ready ? std::string() : message);
        if (!ready) return;
        std::vector<uint8_t> slot;
        uint64_t stamp = 0;
        while (queue.pop(&slot, &stamp)) {
            if (!recorder.add(slot.data(), stamp)) encodeFailed = true;
            queue.giveBack(std::move(slot));
        }
    });
    std::string openError = opened.get_future().get();
    if (!openError.empty()) {
        encoder.join();
        std::fprintf(stderr, "%s: %s\n", kCompanionName, openError.c_str());
        return kCompanionNoOutput;
    }
    // Published only now that the reader's slots and the encoder are ready: the program starts writing
    // the moment it sees the section.
    FrameSection section;
    if (!createAndPublish(args, section, true)) {
        queue.close();
        encoder.join();
        return kCompanionNoSection;
    }

    uint32_t last = 0;  // a fresh section: every frame written after publish() is new
    int missed = 0;
    uint64_t lastStamp = 0;
    auto pollOnce = [&] {
        std::vector<uint8_t> slot = queue.takeFree();
        uint32_t sequence = 0;
        uint64_t stamp = 0;
        if (copyCompleteFrame(section.view(), last, slot.data(), &sequence, &stamp) == CopyResult::Copied) {
            // The counter moves by 2 per frame; a bigger step means frames came faster than we read.
            if (sequence - last > 2) {
                missed += static_cast<int>((sequence - last) / 2) - 1;
                std::fprintf(stderr, "%s: frames missed before sequence %u (stamp %llu, previous %llu)\n",
                             kCompanionName, sequence, static_cast<unsigned long long>(stamp),
                             static_cast<unsigned long long>(lastStamp));
            }
            lastStamp = stamp;
            last = sequence;
            markTaken(section.view(), sequence);
            queue.push(std::move(slot), stamp);
            return true;
        }
        queue.giveBack(std::move(slot));
        return false;
    };
    // Right after a frame the next one may follow at once (the engine catching up after a slow frame),
    // so the reader stays awake for a moment; otherwise it naps between polls.
    auto lastFrame = Clock::now();
    while (keepRunning(args) && !encodeFailed) {
        if (pollOnce())
            lastFrame = Clock::now();
        else if (Clock::now() - lastFrame < std::chrono::milliseconds(3))
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    pollOnce();  // the program's last frame, written before it asked us to end
    queue.close();
    encoder.join();
    // The recording is finished before the section goes: its name vanishing tells watchers the file is
    // complete.
    bool complete = recorder.finish();
    section.destroy();
    reportCost(recorder.frames(), missed);
    if (!complete || encodeFailed) {
        std::fprintf(stderr, "%s: cannot complete %s\n", kCompanionName, args.output.c_str());
        return kCompanionNoOutput;
    }
    return kCompanionOk;
}

// The outputs' bits for the section, from what is up and who reads it.
uint32_t outputBits(bool pipewireUp, bool pipewireWatched, bool loopbackUp, bool loopbackWatched) {
    return (pipewireUp ? kOutputPipeWire : 0u) | (pipewireUp && pipewireWatched ? kWatchedPipeWire : 0u) |
           (loopbackUp ? kOutputLoopback : 0u) | (loopbackUp && loopbackWatched ? kWatchedLoopback : 0u);
}

void reportWatching(const char* output, bool watched, const char* detail) {
    std::fprintf(stderr, "%s: %s %s%s%s\n", kCompanionName, output, watched ? "watched" : "not watched",
                 detail[0] ? ", " : "", detail);
}

// The outputs a frame read from the section goes to (null: that output does not take it).
struct Readers {
    LoopbackOutput* loopback;
    PipeWireCamera* pipewire;
};

void readFrame(const uint8_t* pixels, void* context) {
    auto* readers = static_cast<Readers*>(context);
    if (readers->loopback) readers->loopback->setFrame(pixels, kFrameRowBytes);
    if (readers->pipewire) readers->pipewire->prepare(pixels, kFrameRowBytes);
}

// Serves the camera through every output this machine has: the PipeWire camera node when a daemon runs
// for this user, and the v4l2loopback device labelled like the camera when there is one that nobody else
// feeds. Either alone is enough; frames go out at 30 a second, the last one repeated.
int serveCamera(const Arguments& args) {
    PipeWireCamera pipewire;
    LoopbackOutput loopback;
    std::string pipewireWhy, loopbackWhy;
    bool pipewireUp = pipewire.start(args.label, &pipewireWhy);
    bool loopbackUp = loopback.open(args.label, &loopbackWhy);
    // Applications list an exclusive_caps device only once something writes to it.
    if (loopbackUp && !loopback.writeFrame()) {
        loopbackWhy = loopback.path() + " refused a frame";
        loopback.close();
        loopbackUp = false;
    }
    if (pipewireUp)
        std::fprintf(stderr, "%s: PipeWire camera \"%s\" offered\n", kCompanionName, args.label.c_str());
    else
        std::fprintf(stderr, "%s: no PipeWire camera: %s\n", kCompanionName, pipewireWhy.c_str());
    if (loopbackUp)
        std::fprintf(stderr, "%s: serving %s\n", kCompanionName, loopback.path().c_str());
    else
        std::fprintf(stderr, "%s: no v4l2loopback output: %s\n", kCompanionName, loopbackWhy.c_str());
    if (!pipewireUp && !loopbackUp) {
        std::fprintf(stderr, "%s: no camera output; \"quillmere --check-camera\" says what to set up\n",
                     kCompanionName);
        const bool refused = loopbackWhy.find("no v4l2loopback device") == std::string::npos;
        return refused ? kCompanionDeviceRefused : kCompanionNoDevice;
    }
    FrameSection section;
    if (!createAndPublish(args, section, false)) return kCompanionNoSection;

    uint32_t last = 0;  // a fresh section: every frame written after publish() is new
    int frames = 0, ticks = 0;
    bool pipewireWatched = false, loopbackWatched = false;
    uint32_t published = ~0u;
    const auto interval = std::chrono::microseconds(33333);
    auto next = Clock::now();
    while (keepRunning(args)) {
        // Each output converts straight from the section, and only frames someone will get: the loopback
        // device always (it must keep being written), the PipeWire camera while a consumer streams.
        const bool pipewireWants = pipewireUp && pipewire.watched();
        if (loopbackUp || pipewireWants) {
            Readers readers{loopbackUp ? &loopback : nullptr, pipewireWants ? &pipewire : nullptr};
            const bool again = pipewireWants && pipewire.needsFrame();
            uint32_t sequence = 0;
            uint64_t stamp = 0;
            if (readCompleteFrame(section.view(), again ? kAnyFrame : last, readFrame, &readers, &sequence,
                                  &stamp) == CopyResult::Copied) {
                if (sequence != last) ++frames;
                last = sequence;
            }
            if (again && pipewire.needsFrame() && readSequence(section.view()) == 0)
                pipewire.preparePlaceholder();
        }
        if (loopbackUp && !loopback.writeFrame()) {
            std::fprintf(stderr, "%s: %s refused a frame\n", kCompanionName, loopback.path().c_str());
            loopback.close();
            loopbackUp = false;
            if (!pipewireUp) return kCompanionDeviceRefused;
        }
        if (pipewireUp) {
            pipewire.send();
            if (pipewire.broken()) {
                std::fprintf(stderr, "%s: the PipeWire camera is gone\n", kCompanionName);
                pipewire.stop();
                pipewireUp = false;
                if (!loopbackUp) return kCompanionNoDevice;
            }
        }
        ++ticks;
        if (pipewireUp && pipewire.watched() != pipewireWatched) {
            pipewireWatched = !pipewireWatched;
            reportWatching("PipeWire camera", pipewireWatched, pipewireWatched ? pipewire.formatName() : "");
        }
        if (loopbackUp && loopback.watched() != loopbackWatched) {
            loopbackWatched = !loopbackWatched;
            reportWatching(loopback.path().c_str(), loopbackWatched, "");
        }
        const uint32_t outputs = outputBits(pipewireUp, pipewireWatched, loopbackUp, loopbackWatched);
        if (outputs != published) setCameraOutputs(section.view(), published = outputs);
        next += interval;
        auto now = Clock::now();
        if (next < now) next = now;  // fell behind: do not burst to catch up
        std::this_thread::sleep_until(next);
    }
    loopback.close();
    pipewire.stop();
    reportCost(frames, 0);
    std::fprintf(stderr, "%s: %d ticks, cpu %.2f ms per tick\n", kCompanionName, ticks,
                 ticks > 0 ? processCpu100ns() / 1e4 / ticks : 0.0);
    return kCompanionOk;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!parseArguments(argc, argv, &args)) {
        std::fprintf(stderr, "usage: %s [--output FILE] [--section /NAME] [--label LABEL] [--parent PID]\n",
                     kCompanionName);
        return kCompanionUsage;
    }
    catchTerminationSignals();
    // End with the program that started us, even if it could not ask.
    if (args.parent != 0 && !endWithParent(args.parent)) return kCompanionOk;
    return args.output.empty() ? serveCamera(args) : record(args);
}
