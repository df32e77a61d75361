#include "AviFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "VideoFile.h"

#if TESSARO_HAVE_AVI
#include <dlfcn.h>

#include <mutex>
#include <type_traits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}
#endif

namespace tessaro {
namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
int Le16s(const uint8_t* p) {
    return static_cast<int16_t>(p[0] | p[1] << 8);
}

// Walks the chunks of [begin, end): calls `chunk(id, listType or 0, body, bodySize)` for each.
template <typename F>
void WalkChunks(const uint8_t* begin, const uint8_t* end, F&& chunk) {
    const uint8_t* p = begin;
    while (end - p >= 8) {
        const uint32_t id = Le32(p);
        const uint32_t size = Le32(p + 4);
        const uint8_t* body = p + 8;
        const size_t available = static_cast<size_t>(end - body);
        const size_t bodySize = std::min<size_t>(size, available);
        if (id == FourCc('L', 'I', 'S', 'T') && bodySize >= 4) {
            chunk(id, Le32(body), body + 4, bodySize - 4);
        } else {
            chunk(id, 0u, body, bodySize);
        }
        if (size > available) break;
        p = body + size + (size & 1);  // chunks are padded to even sizes
    }
}

}  // namespace

bool ReadAviStreams(const uint8_t* bytes, size_t size, std::vector<AviStreamInfo>* streams) {
    streams->clear();
    if (size < 12 || Le32(bytes) != FourCc('R', 'I', 'F', 'F') ||
        Le32(bytes + 8) != FourCc('A', 'V', 'I', ' ')) {
        return false;
    }
    const uint8_t* end = bytes + size;
    WalkChunks(bytes + 12, end, [&](uint32_t id, uint32_t list, const uint8_t* body, size_t n) {
        if (id != FourCc('L', 'I', 'S', 'T') || list != FourCc('h', 'd', 'r', 'l')) return;
        WalkChunks(body, body + n, [&](uint32_t id2, uint32_t list2, const uint8_t* b2, size_t n2) {
            if (id2 != FourCc('L', 'I', 'S', 'T') || list2 != FourCc('s', 't', 'r', 'l')) return;
            if (static_cast<int>(streams->size()) >= kMaxAviStreams) return;
            AviStreamInfo info;
            bool haveHeader = false;
            WalkChunks(b2, b2 + n2, [&](uint32_t id3, uint32_t, const uint8_t* b3, size_t n3) {
                if (id3 == FourCc('s', 't', 'r', 'h') && n3 >= 48) {
                    haveHeader = true;
                    info.type = Le32(b3);
                    info.handler = Le32(b3 + 4);
                    info.scale = Le32(b3 + 20);
                    info.rate = Le32(b3 + 24);
                    info.start = Le32(b3 + 28);
                    info.length = Le32(b3 + 32);
                    if (n3 >= 56) {
                        info.left = Le16s(b3 + 48);
                        info.top = Le16s(b3 + 50);
                        info.right = Le16s(b3 + 52);
                        info.bottom = Le16s(b3 + 54);
                    }
                } else if (id3 == FourCc('s', 't', 'r', 'f') && n3 >= 16 &&
                           info.type == FourCc('v', 'i', 'd', 's')) {
                    info.formatWidth = static_cast<int32_t>(Le32(b3 + 4));
                    info.formatHeight = static_cast<int32_t>(Le32(b3 + 8));
                    info.bitCount = b3[14] | b3[15] << 8;
                }
            });
            if (haveHeader) streams->push_back(info);
        });
    });
    return true;
}

AviVideoFacts ChooseAviVideo(const std::vector<AviStreamInfo>& streams) {
    AviVideoFacts facts;
    for (size_t i = 0; i < streams.size(); ++i) {
        const AviStreamInfo& s = streams[i];
        if (s.type != FourCc('v', 'i', 'd', 's')) continue;
        facts.stream = static_cast<int>(i);
        facts.frameRate = s.scale == 0 ? 30.0 : static_cast<double>(s.rate) / s.scale;
        facts.fourcc = s.handler;
        facts.width = s.right - s.left;
        facts.height = s.bottom - s.top;
        // Writers that leave the frame rectangle empty give the size in the format header only.
        if (facts.width <= 0 || facts.height <= 0) {
            facts.width = std::abs(s.formatWidth);
            facts.height = std::abs(s.formatHeight);
        }
        const double msPerSample = facts.frameRate > 0.0 ? 1000.0 / facts.frameRate : 0.0;
        facts.startMs = s.start * msPerSample;
        facts.endMs = (static_cast<double>(s.start) + s.length) * msPerSample;
        facts.frameCount = static_cast<int>(std::min<uint32_t>(s.length, 0x7fffffffu));
        facts.format = PictureFormatOfSize(facts.width, facts.height);
        facts.bitsPerPixel = s.bitCount;
        facts.bitrateKbps =
            static_cast<double>(s.bitCount) * facts.width * facts.height * facts.frameRate / 1024.0;
        break;
    }
    return facts;
}

#if TESSARO_HAVE_AVI

// FFmpeg's libraries are loaded when the first AVI frame is decoded, not when the program starts:
// they pull in a hundred more libraries whose loading would otherwise cost every run of the
// program, most of which never open an AVI file. The versions are those of the headers built
// against.
#define TESSARO_SONAME(name, major) "lib" name ".so." TESSARO_STRINGIFY(major)
#define TESSARO_STRINGIFY(x) TESSARO_STRINGIFY2(x)
#define TESSARO_STRINGIFY2(x) #x

struct LibAv {
    decltype(&avformat_open_input) formatOpenInput;
    decltype(&avformat_find_stream_info) formatFindStreamInfo;
    decltype(&avformat_close_input) formatCloseInput;
    decltype(&av_seek_frame) seekFrame;
    decltype(&av_read_frame) readFrame;
    decltype(&avcodec_find_decoder) codecFindDecoder;
    decltype(&avcodec_alloc_context3) codecAllocContext;
    decltype(&avcodec_parameters_to_context) codecParametersToContext;
    decltype(&avcodec_open2) codecOpen;
    decltype(&avcodec_free_context) codecFreeContext;
    decltype(&avcodec_flush_buffers) codecFlushBuffers;
    decltype(&avcodec_receive_frame) codecReceiveFrame;
    decltype(&avcodec_send_packet) codecSendPacket;
    decltype(&av_packet_alloc) packetAlloc;
    decltype(&av_packet_free) packetFree;
    decltype(&av_packet_unref) packetUnref;
    decltype(&av_frame_alloc) frameAlloc;
    decltype(&av_frame_free) frameFree;
    decltype(&sws_getCachedContext) scaleGetCachedContext;
    decltype(&sws_scale) scale;
    decltype(&sws_freeContext) scaleFreeContext;
};

// The functions, or nullptr when a library or a function is missing. Loaded once per process;
// the libraries stay loaded.
const LibAv* LoadLibAv() {
    static LibAv lib;
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] {
        const char* names[] = {TESSARO_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
                               TESSARO_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
                               TESSARO_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
                               TESSARO_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR)};
        void* handles[4] = {};
        for (int i = 0; i < 4; ++i) {
            handles[i] = dlopen(names[i], RTLD_NOW | RTLD_LOCAL);
            if (handles[i] == nullptr) return;
        }
        bool all = true;
        auto find = [&](auto& fn, const char* name) {
            void* p = nullptr;
            for (void* h : handles) {
                if (p == nullptr) p = dlsym(h, name);
            }
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(p);
            all = all && p != nullptr;
        };
        find(lib.formatOpenInput, "avformat_open_input");
        find(lib.formatFindStreamInfo, "avformat_find_stream_info");
        find(lib.formatCloseInput, "avformat_close_input");
        find(lib.seekFrame, "av_seek_frame");
        find(lib.readFrame, "av_read_frame");
        find(lib.codecFindDecoder, "avcodec_find_decoder");
        find(lib.codecAllocContext, "avcodec_alloc_context3");
        find(lib.codecParametersToContext, "avcodec_parameters_to_context");
        find(lib.codecOpen, "avcodec_open2");
        find(lib.codecFreeContext, "avcodec_free_context");
        find(lib.codecFlushBuffers, "avcodec_flush_buffers");
        find(lib.codecReceiveFrame, "avcodec_receive_frame");
        find(lib.codecSendPacket, "avcodec_send_packet");
        find(lib.packetAlloc, "av_packet_alloc");
        find(lib.packetFree, "av_packet_free");
        find(lib.packetUnref, "av_packet_unref");
        find(lib.frameAlloc, "av_frame_alloc");
        find(lib.frameFree, "av_frame_free");
        find(lib.scaleGetCachedContext, "sws_getCachedContext");
        find(lib.scale, "sws_scale");
        find(lib.scaleFreeContext, "sws_freeContext");
        loaded = all;
    });
    return loaded ? &lib : nullptr;
}

// The libav side: demuxer, decoder and scaler of the chosen stream, allocated once at the first
// frame and reused for every later one.
class AviDecoder {
  public:
    ~AviDecoder() {
        if (av_ == nullptr) return;
        av_->scaleFreeContext(scaler_);
        av_->frameFree(&frame_);
        av_->packetFree(&packet_);
        av_->codecFreeContext(&codec_);
        av_->formatCloseInput(&format_);
    }

    // False also when FFmpeg's libraries cannot be loaded.
    bool Open(const std::string& path, int stream, int width, int height) {
        av_ = LoadLibAv();
        if (av_ == nullptr) return false;
        const LibAv& av = *av_;
        width_ = width;
        height_ = height;
        if (av.formatOpenInput(&format_, path.c_str(), nullptr, nullptr) < 0) return false;
        if (av.formatFindStreamInfo(format_, nullptr) < 0) return false;
        if (stream < 0 || stream >= static_cast<int>(format_->nb_streams)) return false;
        stream_ = stream;
        const AVCodecParameters* par = format_->streams[stream]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO) return false;
        const AVCodec* codec = av.codecFindDecoder(par->codec_id);
        if (!codec) return false;
        codec_ = av.codecAllocContext(codec);
        if (!codec_ || av.codecParametersToContext(codec_, par) < 0) return false;
        if (av.codecOpen(codec_, codec, nullptr) < 0) return false;
        frame_ = av.frameAlloc();
        packet_ = av.packetAlloc();
        return frame_ && packet_;
    }

    bool Read(int k, uint8_t* out, int stride) {
        const LibAv& av = *av_;
        if (k != next_) {
            // Back to the key frame before k, then decode forward.
            if (av.seekFrame(format_, stream_, k, AVSEEK_FLAG_BACKWARD) < 0 &&
                av.seekFrame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD) < 0) {
                return false;
            }
            av.codecFlushBuffers(codec_);
            ended_ = false;
        }
        for (int guard = 0; guard < 100000; ++guard) {
            const int got = av.codecReceiveFrame(codec_, frame_);
            if (got == 0) {
                const int64_t pts = frame_->best_effort_timestamp;
                const int index = pts == AV_NOPTS_VALUE ? next_ : static_cast<int>(pts);
                next_ = index + 1;
                if (index < k) continue;
                return Convert(out, stride);
            }
            if (got != AVERROR(EAGAIN)) return false;
            if (ended_) return false;
            const int r = av.readFrame(format_, packet_);
            if (r < 0) {
                ended_ = true;
                av.codecSendPacket(codec_, nullptr);
                continue;
            }
            if (packet_->stream_index == stream_) av.codecSendPacket(codec_, packet_);
            av.packetUnref(packet_);
        }
        return false;
    }

  private:
    bool Convert(uint8_t* out, int stride) {
        const LibAv& av = *av_;
        if (frame_->width <= 0 || frame_->height <= 0) return false;
        scaler_ = av.scaleGetCachedContext(scaler_, frame_->width, frame_->height,
                                           static_cast<AVPixelFormat>(frame_->format), width_, height_,
                                           AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
        if (!scaler_) return false;
        uint8_t* planes[4] = {out, nullptr, nullptr, nullptr};
        int strides[4] = {stride, 0, 0, 0};
        return av.scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, planes, strides) > 0;
    }

    const LibAv* av_ = nullptr;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    int stream_ = -1, width_ = 0, height_ = 0;
    int next_ = -1;
    bool ended_ = false;
};

#else

class AviDecoder {
  public:
    bool Open(const std::string&, int, int, int) { return false; }
    bool Read(int, uint8_t*, int) { return false; }
};

#endif

AviFile::AviFile() = default;
AviFile::~AviFile() = default;

AviFile::OpenResult AviFile::Open(const std::string& path) {
    Close();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return OpenResult::kNotAvi;
    // The header list comes first; 1 MB holds it for any file a writer produces in practice.
    std::vector<uint8_t> head(1 << 20);
    ssize_t n = 0, total = 0;
    while (total < static_cast<ssize_t>(head.size()) &&
           (n = read(fd, head.data() + total, head.size() - static_cast<size_t>(total))) > 0) {
        total += n;
    }
    close(fd);
    if (!ReadAviStreams(head.data(), static_cast<size_t>(total), &streams_)) return OpenResult::kNotAvi;
    if (streams_.empty()) return OpenResult::kNoStreams;
    path_ = path;
    video_ = ChooseAviVideo(streams_);
    return OpenResult::kOpened;
}

void AviFile::Close() {
    decoder_.reset();
    decoderFailed_ = false;
    streams_.clear();
    video_ = AviVideoFacts{};
    path_.clear();
}

double AviFile::durationMs() const {
    return std::max(1.0, video_.endMs - video_.startMs);
}

bool AviFile::ReadFrameRgb32(int k, uint8_t* out, int stride) {
    if (video_.stream < 0 || video_.frameCount <= 0 || video_.width <= 0 || video_.height <= 0 ||
        decoderFailed_) {
        return false;
    }
    k = std::clamp(k, 0, video_.frameCount - 1);
    if (!decoder_) {
        decoder_ = std::make_unique<AviDecoder>();
        if (!decoder_->Open(path_, video_.stream, video_.width, video_.height)) {
            decoder_.reset();
            decoderFailed_ = true;
            return false;
        }
    }
    return decoder_->Read(k, out, stride);
}

}  // namespace tessaro
