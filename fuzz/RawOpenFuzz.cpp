// libFuzzer target: opening a sequence file by name and size, as the jobs and windows do. The first
// byte picks the extension, the next four a custom picture size for ".cst" files (what the user
// would type); the rest is the file's content, written to a scratch file in memory-backed storage.
// Every frame the open reports is then read, and a bitstream read whole.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VideoFile.h"

namespace {

const char* const kExtensions[] = {"sqcif", "qcif", "cif", "4cif", "16cif", "cst", "263", "avi", "QCIF", "txt"};

class SizeHost : public tessaro::VideoFileHost {
  public:
    SizeHost(int w, int h) : w_(w), h_(h) {}
    bool AskPictureSize(const std::string&, int* width, int* height) override {
        *width = w_;
        *height = h_;
        return true;
    }

  private:
    int w_, h_;
};

std::string ScratchFolder() {
    const char* candidates[] = {"/dev/shm", "/tmp"};
    for (const char* c : candidates) {
        if (access(c, W_OK) == 0) return c;
    }
    return ".";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const char* extension = kExtensions[data[0] % (sizeof kExtensions / sizeof kExtensions[0])];
    const int width = data[1] | (data[2] & 0x07) << 8;
    const int height = data[3] | (data[4] & 0x07) << 8;
    static const std::string folder = ScratchFolder();
    const std::string path = folder + "/tessaro-fuzz-" + std::to_string(getpid()) + "." + extension;

    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size > 5) std::fwrite(data + 5, 1, size - 5, f);
    std::fclose(f);

    SizeHost host(width, height);
    tessaro::VideoFile file;
    if (file.Open(path, &host)) {
        if (file.frameBytes() <= 0 && file.isRaw()) abort();
        std::vector<uint8_t> frame(static_cast<size_t>(file.frameBytes() > 0 ? file.frameBytes() : 1));
        for (int k = 0; k < file.frameCount() && k < 8; ++k) {
            if (file.isRaw() && !file.ReadFrame(k, frame.data())) abort();
        }
        // Past the end is refused, never read.
        if (file.isRaw() && file.ReadFrame(file.frameCount(), frame.data())) abort();
        if (file.isBitstream()) {
            std::vector<uint8_t> whole;
            file.ReadWholeBitstream(&whole);
        }
    } else if (file.Error().empty()) {
        abort();  // a refusal always says why
    }
    unlink(path.c_str());
    return 0;
}
