#include "tests/tracking/test_pictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tracking/sample_bilinear.h"

namespace qm::test {

namespace {

std::string dataPath(const std::string& name) {
    return std::string(QM_SOURCE_DIR) + "/data/" + name;
}

PictureBuffer blank(int width, int height) {
    PictureBuffer out;
    out.width = width;
    out.height = height;
    out.pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    for (size_t i = 3; i < out.pixels.size(); i += 4)
        out.pixels[i] = 255;
    return out;
}

// Builds a picture whose pixel (x, y) is the source pixel from(x, y).
template <typename From>
PictureBuffer remap(const PictureBuffer& picture, int width, int height, From from) {
    PictureBuffer out = blank(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto [sx, sy] = from(x, y);
            if (sx < 0 || sy < 0 || sx >= picture.width || sy >= picture.height) continue;
            std::memcpy(&out.pixels[(static_cast<size_t>(y) * width + x) * 4],
                        &picture.pixels[(static_cast<size_t>(sy) * picture.width + sx) * 4], 4);
        }
    return out;
}

}  // namespace

PictureBuffer dataPicture(const std::string& name) {
    PictureBuffer picture;
    readPictureFile(dataPath(name), picture, nullptr);
    return picture;
}

PictureBuffer dataVideoFrame(const std::string& name, int index) {
    PictureBuffer picture;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, dataPath(name).c_str(), nullptr, nullptr) < 0) return picture;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const int stream = avformat_find_stream_info(format, nullptr) >= 0
                           ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                           : -1;
    if (stream >= 0) {
        const AVCodecParameters* parameters = format->streams[stream]->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
        codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
        if (codec && avcodec_parameters_to_context(codec, parameters) >= 0 &&
            avcodec_open2(codec, decoder, nullptr) >= 0) {
            int decoded = 0;
            bool done = false;
            while (!done && av_read_frame(format, packet) >= 0) {
                if (packet->stream_index == stream && avcodec_send_packet(codec, packet) >= 0) {
                    while (!done && avcodec_receive_frame(codec, frame) >= 0) {
                        if (decoded++ < index) continue;
                        picture = blank(frame->width, frame->height);
                        SwsContext* scale = sws_getContext(frame->width, frame->height,
                                                           static_cast<AVPixelFormat>(frame->format),
                                                           frame->width, frame->height, AV_PIX_FMT_BGRA,
                                                           SWS_BILINEAR, nullptr, nullptr, nullptr);
                        uint8_t* planes[] = {picture.pixels.data()};
                        const int strides[] = {picture.width * 4};
                        sws_scale(scale, frame->data, frame->linesize, 0, frame->height, planes, strides);
                        sws_freeContext(scale);
                        done = true;
                    }
                }
                av_packet_unref(packet);
            }
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return picture;
}

PictureBuffer turnedClockwise(const PictureBuffer& p) {
    // The top row becomes the right column.
    return remap(p, p.height, p.width, [&](int x, int y) { return std::pair{y, p.height - 1 - x}; });
}

PictureBuffer turnedAnticlockwise(const PictureBuffer& p) {
    return remap(p, p.height, p.width, [&](int x, int y) { return std::pair{p.width - 1 - y, x}; });
}

PictureBuffer turnedBy(const PictureBuffer& p, float angle, Point2 pivot) {
    PictureBuffer out = blank(p.width, p.height);
    const SourcePicture source = p.view();
    const float c = std::cos(angle), s = std::sin(angle);
    const float cx = pivot.x - 0.5f, cy = pivot.y - 0.5f;  // pixel centres sit at whole numbers
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            // The source point that turns onto (x, y): the inverse turn.
            const float dx = x - cx, dy = y - cy;
            const Rgb rgb = sampleBilinear(source, dx * c + dy * s + cx, -dx * s + dy * c + cy);
            uint8_t* px = &out.pixels[(static_cast<size_t>(y) * p.width + x) * 4];
            px[0] = static_cast<uint8_t>(rgb.b + 0.5f);
            px[1] = static_cast<uint8_t>(rgb.g + 0.5f);
            px[2] = static_cast<uint8_t>(rgb.r + 0.5f);
        }
    return out;
}

PictureBuffer mirrored(const PictureBuffer& p) {
    return remap(p, p.width, p.height, [&](int x, int y) { return std::pair{p.width - 1 - x, y}; });
}

PictureBuffer placedOn(const PictureBuffer& p, int width, int height, float scale, int left, int top) {
    PictureBuffer out = blank(width, height);
    const SourcePicture source = p.view();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float sx = (static_cast<float>(x - left) + 0.5f) / scale - 0.5f;
            const float sy = (static_cast<float>(y - top) + 0.5f) / scale - 0.5f;
            if (sx < -0.5f || sy < -0.5f || sx > p.width - 0.5f || sy > p.height - 0.5f) continue;
            const Rgb rgb = sampleBilinear(source, std::max(0.0f, std::min(sx, p.width - 1.0f)),
                                           std::max(0.0f, std::min(sy, p.height - 1.0f)));
            uint8_t* px = &out.pixels[(static_cast<size_t>(y) * width + x) * 4];
            px[0] = static_cast<uint8_t>(rgb.b + 0.5f);
            px[1] = static_cast<uint8_t>(rgb.g + 0.5f);
            px[2] = static_cast<uint8_t>(rgb.r + 0.5f);
        }
    return out;
}

PictureBuffer cut(const PictureBuffer& p, int left, int top, int width, int height) {
    return remap(p, width, height, [&](int x, int y) { return std::pair{x + left, y + top}; });
}

}  // namespace qm::test
