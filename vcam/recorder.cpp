#include "vcam/recorder.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

#include "platform/frame_section.h"
#include "vcam/pixel_formats.h"

namespace qm {
namespace {

std::string avText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

}  // namespace

Recorder::~Recorder() {
    if (format_) finish();
}

bool Recorder::open(const std::string& path, std::string* message) {
    av_log_set_level(AV_LOG_ERROR);
    int result = avformat_alloc_output_context2(&format_, nullptr, nullptr, path.c_str());
    if (result < 0 || !format_) {
        // An unknown extension still records, as Matroska.
        result = avformat_alloc_output_context2(&format_, nullptr, "matroska", path.c_str());
    }
    if (result < 0 || !format_) {
        *message = "cannot make an output for " + path + ": " + avText(result);
        return false;
    }
    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    if (!encoder) encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!encoder) {
        *message = "no video encoder";
        return false;
    }
    stream_ = avformat_new_stream(format_, nullptr);
    codec_ = avcodec_alloc_context3(encoder);
    picture_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!stream_ || !codec_ || !picture_ || !packet_) {
        *message = "out of memory";
        return false;
    }
    codec_->width = kFrameWidth;
    codec_->height = kFrameHeight;
    codec_->pix_fmt = AV_PIX_FMT_YUV420P;
    codec_->time_base = AVRational{1, 1000};  // frames keep their millisecond timestamps
    codec_->framerate = AVRational{30, 1};
    codec_->gop_size = 30;  // a key frame (and, in an MP4, a fragment) every second
    codec_->max_b_frames = 0;
    if (format_->oformat->flags & AVFMT_GLOBALHEADER) codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (encoder->id == AV_CODEC_ID_H264) {
        av_opt_set(codec_->priv_data, "preset", "ultrafast", 0);
        av_opt_set(codec_->priv_data, "crf", "20", 0);
    } else {
        codec_->bit_rate = 6000000;
    }
    result = avcodec_open2(codec_, encoder, nullptr);
    if (result >= 0) result = avcodec_parameters_from_context(stream_->codecpar, codec_);
    if (result < 0) {
        *message = "cannot start the encoder: " + avText(result);
        return false;
    }
    stream_->time_base = codec_->time_base;
    stream_->avg_frame_rate = AVRational{30, 1};

    picture_->format = codec_->pix_fmt;
    picture_->width = codec_->width;
    picture_->height = codec_->height;
    result = av_frame_get_buffer(picture_, 0);
    if (result >= 0 && !(format_->oformat->flags & AVFMT_NOFILE))
        result = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
    // An MP4 is written in fragments, a second or two each: a companion killed mid-session leaves a file
    // that plays up to its last fragment (a plain MP4 is unreadable without the index written at the end).
    AVDictionary* muxerOptions = nullptr;
    if (std::strcmp(format_->oformat->name, "mp4") == 0 || std::strcmp(format_->oformat->name, "mov") == 0)
        av_dict_set(&muxerOptions, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    if (result >= 0) result = avformat_write_header(format_, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (result < 0) {
        *message = "cannot write " + path + ": " + avText(result);
        return false;
    }
    headerWritten_ = true;
    return true;
}

bool Recorder::add(const uint8_t* bgra, uint64_t timestampMs) {
    if (!headerWritten_) return false;
    if (firstStamp_) {
        originMs_ = timestampMs;
        firstStamp_ = false;
    }
    int64_t pts = static_cast<int64_t>(timestampMs - originMs_);
    if (pts <= lastPts_) pts = lastPts_ + 1;  // two frames in one millisecond still get their own time
    lastPts_ = pts;
    if (av_frame_make_writable(picture_) < 0) return false;
    // The same vectorised BT.601 conversion as the camera outputs (libswscale's takes about six times as
    // long for this one format pair).
    convertToI420Planes(bgra, kFrameRowBytes, kFrameWidth, kFrameHeight,
                        {picture_->data[0], size_t(picture_->linesize[0]), picture_->data[1],
                         size_t(picture_->linesize[1]), picture_->data[2], size_t(picture_->linesize[2])});
    picture_->pts = pts;
    if (avcodec_send_frame(codec_, picture_) < 0) return false;
    ++frames_;
    return drain();
}

bool Recorder::drain() {
    for (;;) {
        int result = avcodec_receive_packet(codec_, packet_);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result < 0) return false;  // a real encoding error, while adding frames or flushing alike
        av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        if (av_interleaved_write_frame(format_, packet_) < 0) return false;
    }
}

bool Recorder::finish() {
    bool ok = true;
    if (codec_ && headerWritten_) {
        avcodec_send_frame(codec_, nullptr);
        ok = drain();
        // Errors are negative; the fragmenting muxer returns a byte count on success.
        ok = av_write_trailer(format_) >= 0 && ok;
    }
    if (format_ && format_->pb && !(format_->oformat->flags & AVFMT_NOFILE)) avio_closep(&format_->pb);
    av_frame_free(&picture_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_free_context(format_);
    format_ = nullptr;
    headerWritten_ = false;
    return ok;
}

}  // namespace qm
