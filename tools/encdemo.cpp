// Encodes a raw I420 sequence with the default encoder parameters and prints per frame the byte
// count and PSNR, then the totals: tessaro-encdemo INPUT WIDTH HEIGHT OUT.263 [FRAMES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "R263AVO.h"
#include "R263COM/PictureFormats.h"

namespace {

// Source format code of a picture size: 1..5 for the standard sizes, 6 for any other.
int FormatOfSize(int width, int height) {
    for (int f = 1; f <= 5; ++f) {
        if (r263com::kFormatWidth[f] == width && r263com::kFormatHeight[f] == height) return f;
    }
    return 6;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct EncoderDeleter {
    void operator()(r263avo::Encoder* e) const {
        if (e) {
            r263avo::EncoderClose(*e);
            r263avo::EncoderDestroy(e);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s INPUT WIDTH HEIGHT OUT.263 [FRAMES]\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    if (width < 4 || height < 4 || width > 2048 || height > 1152 || (width & 1) || (height & 1)) {
        std::fprintf(stderr, "invalid size: %s x %s\n", argv[2], argv[3]);
        return 2;
    }
    File in(std::fopen(argv[1], "rb"));
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    const size_t frameBytes = static_cast<size_t>(width) * height * 3 / 2;
    std::fseek(in.get(), 0, SEEK_END);
    const long fileBytes = std::ftell(in.get());
    std::fseek(in.get(), 0, SEEK_SET);
    int frames = fileBytes > 0 ? static_cast<int>(static_cast<size_t>(fileBytes) / frameBytes) : 0;
    if (argc > 5) {
        const int asked = std::atoi(argv[5]);
        if (asked < 1) {
            std::fprintf(stderr, "invalid frame count: %s\n", argv[5]);
            return 2;
        }
        if (asked < frames) frames = asked;
    }
    if (frames < 1) {
        std::fprintf(stderr, "%s holds no complete %dx%d frame\n", argv[1], width, height);
        return 1;
    }
    File out(std::fopen(argv[4], "wb"));
    if (!out) {
        std::perror(argv[4]);
        return 1;
    }

    r263avo::EncoderParams params;
    params.StartFrame = 0;
    params.EndFrame = frames - 1;
    params.FrameCount = frames;
    params.SourceFormat = FormatOfSize(width, height);
    params.Width = width;
    params.Height = height;
    params.ComputeSnr = 1;
    std::unique_ptr<r263avo::Encoder, EncoderDeleter> encoder(r263avo::EncoderCreate());
    if (!encoder || r263avo::EncoderOpen(*encoder, params) != 0) {
        std::fprintf(stderr, "the encoder cannot code this size\n");
        return 1;
    }
    r263avo::EncoderStats& stats = r263avo::EncoderGetStats(*encoder);

    std::vector<uint8_t> picture(frameBytes);
    uint64_t totalBytes = 0;
    int coded = 0;
    double sumY = 0, sumU = 0, sumV = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int frame = 0; frame < frames;) {
        if (std::fseek(in.get(), static_cast<long>(frame * frameBytes), SEEK_SET) != 0 ||
            std::fread(picture.data(), 1, frameBytes, in.get()) != frameBytes) {
            std::fprintf(stderr, "cannot read frame %d\n", frame);
            return 1;
        }
        uint32_t isIntra = 0, bytes = 0;
        const int32_t result =
            r263avo::EncodeFrame(*encoder, frame, frame == 0 ? 1 : 0, &isIntra, picture.data(), &bytes);
        if (result < 0) {
            std::fprintf(stderr, "the encoder refused frame %d\n", frame);
            return 1;
        }
        if (bytes > 0 && std::fwrite(stats.OutputBuffer, 1, bytes, out.get()) != bytes) {
            std::perror(argv[4]);
            return 1;
        }
        totalBytes += bytes;
        ++coded;
        sumY += stats.SnrY;
        sumU += stats.SnrU;
        sumV += stats.SnrV;
        std::printf("frame %4d %c %8u bytes  PSNR Y %6.2f U %6.2f V %6.2f\n", frame, isIntra ? 'I' : 'P',
                    bytes, stats.SnrY, stats.SnrU, stats.SnrV);
        frame = result + 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (std::fclose(out.release()) != 0) {
        std::perror(argv[4]);
        return 1;
    }
    std::printf("total: %d pictures, %llu bytes, mean PSNR Y %.4f U %.4f V %.4f, %.3f s (%.1f frames/s)\n",
                coded, static_cast<unsigned long long>(totalBytes), sumY / coded, sumU / coded, sumV / coded,
                seconds, seconds > 0 ? coded / seconds : 0.0);
    return 0;
}
