// The PipeWire camera: a video source node that applications (browsers through the camera portal, OBS,
// GNOME's camera) list as "Quillmere". It offers 1280 × 720 at 30 frames per second as YUY2, NV12 and I420,
// each with one fixed size (browsers ignore a node that offers a size range), and sends whatever frame it
// is given in the format the consumer chose. The node drives its own graph: every send() is one cycle.
//
// Contract: start(), send() and stop() from one thread (the companion's main loop); PipeWire's callbacks
// run on the output's own thread and touch only the atomics below.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "vcam/pixel_formats.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;

namespace qm {

class PipeWireCamera {
public:
    PipeWireCamera();
    PipeWireCamera(const PipeWireCamera&) = delete;
    PipeWireCamera& operator=(const PipeWireCamera&) = delete;
    ~PipeWireCamera();

    // Connects to this user's PipeWire daemon and offers the node named `description`; false with a message
    // when no daemon answers or the node cannot be made.
    bool start(const std::string& description, std::string* message);
    // Converts one 1280 × 720 BGRA frame (rows `stride` bytes apart) into the format consumers chose, to
    // be sent from now on; or the placeholder, before the program's first frame. Allocates nothing.
    void prepare(const uint8_t* bgra, size_t stride);
    void preparePlaceholder();
    // The format changed (or none was prepared yet): the current frame must be prepared again.
    bool needsFrame() const { return preparedFormat_ != format_.load(); }
    // Sends the prepared frame, one graph cycle, while a consumer streams; does nothing otherwise.
    void send();
    // A consumer is linked and streaming.
    bool watched() const { return streaming_.load(); }
    // The daemon went away or refused the node: the output is down for good.
    bool broken() const { return broken_.load(); }
    // The format consumers chose, as a name for the log ("YUY2"); "none" before one is chosen.
    const char* formatName() const;
    void stop();

    // Called from PipeWire's thread.
    void formatChosen(int format);  // -1: none
    void stateChanged(bool streaming, bool error);
    pw_stream* stream() const { return stream_; }
    struct Hooks;

private:
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    Hooks* hooks_ = nullptr;
    std::atomic<int> format_{-1};  // a PixelFormat while one is chosen
    std::atomic<bool> streaming_{false};
    std::atomic<bool> broken_{false};
    uint64_t sequence_ = 0;
    std::vector<uint8_t> prepared_;  // the frame to send, in preparedFormat_
    int preparedFormat_ = -1;
};

}  // namespace qm
