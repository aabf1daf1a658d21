// Recording the program's frames to a video file through FFmpeg (H.264 through libx264 when the
// system's FFmpeg has it, MPEG-4 part 2 otherwise). Each frame keeps the timestamp it was written with.
//
// Contract: open, then add frames in order, then finish (which flushes the encoder and writes the file's
// index so it is playable). One thread at a time.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;

namespace qm {

class Recorder {
public:
    Recorder() = default;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder();

    // Opens the output file; false with a message when it cannot be written.
    bool open(const std::string& path, std::string* message);
    // Encodes one 1280 × 720 BGRA frame at `timestampMs` (milliseconds, any origin, increasing).
    bool add(const uint8_t* bgra, uint64_t timestampMs);
    // Flushes and closes the file; false when the file could not be completed.
    bool finish();

    int frames() const { return frames_; }

private:
    bool drain();

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVPacket* packet_ = nullptr;
    bool headerWritten_ = false;
    bool firstStamp_ = true;
    uint64_t originMs_ = 0;
    int64_t lastPts_ = -1;
    int frames_ = 0;
};

}  // namespace qm
