// libFuzzer target: AVI input through our layer. The bytes are parsed as a stream header list and
// then opened as a file, whose first, middle and last frames are read: damaged files leave the
// picture undrawn, never a fault.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "AviFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<tessaro::AviStreamInfo> streams;
    tessaro::ReadAviStreams(data, size, &streams);
    tessaro::ChooseAviVideo(streams);

    static const std::string path =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/tessaro-fuzz-" +
        std::to_string(getpid()) + ".avi";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    tessaro::AviFile avi;
    if (avi.Open(path) == tessaro::AviFile::OpenResult::kOpened) {
        const tessaro::AviVideoFacts& v = avi.video();
        // Pictures beyond any real camera's size are not drawn by the windows either.
        if (v.width > 0 && v.height > 0 && v.width <= 4096 && v.height <= 4096) {
            std::vector<uint8_t> rgb(static_cast<size_t>(v.width) * v.height * 4);
            const int last = v.frameCount > 0 ? v.frameCount - 1 : 0;
            for (int k : {0, last / 2, last}) avi.ReadFrameRgb32(k, rgb.data(), v.width * 4);
        }
    }
    unlink(path.c_str());
    return 0;
}
