// libFuzzer target: YUV4MPEG2 input. The bytes go through the header and frame-header parsers,
// are opened as a ".y4m" file (written to a scratch file in memory-backed storage) with every
// reported frame read, and are read as a stream from a pipe the way standard input is.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VideoFile.h"
#include "Y4m.h"

namespace {

std::string ScratchFolder() {
    const char* candidates[] = {"/dev/shm", "/tmp"};
    for (const char* c : candidates) {
        if (access(c, W_OK) == 0) return c;
    }
    return ".";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tessaro::Y4mHeader header;
    std::string reason;
    if (tessaro::ParseY4mHeader(data, size, &header, &reason)) {
        if (header.headerBytes == 0 || header.headerBytes > size || header.width <= 0 || header.height <= 0)
            abort();
        size_t length = 0;
        const uint8_t* rest = data + header.headerBytes;
        if (tessaro::ParseY4mFrameHeader(rest, size - header.headerBytes, &length) ==
                tessaro::Y4mFrameHeader::kValid &&
            (length == 0 || length > size - header.headerBytes)) {
            abort();
        }
    } else if (reason.empty()) {
        abort();  // a refusal always says why
    }

    static const std::string folder = ScratchFolder();
    const std::string path = folder + "/tessaro-fuzz-" + std::to_string(getpid()) + ".y4m";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    {
        tessaro::VideoFile file;
        if (file.Open(path)) {
            if (!file.isY4m() || file.frameCount() <= 0) abort();
            std::vector<uint8_t> frame(static_cast<size_t>(file.frameBytes()));
            // Every frame the open counted lies inside the file.
            for (int k = 0; k < file.frameCount(); ++k) {
                if (!file.ReadFrame(k, frame.data())) abort();
            }
            if (file.ReadFrame(file.frameCount(), frame.data())) abort();
        } else if (file.Error().empty()) {
            abort();
        }
    }
    unlink(path.c_str());

    // The same bytes as a stream; they fit in the pipe's buffer, so no writer thread is needed.
    int fds[2];
    if (size > 60000 || pipe(fds) != 0) return 0;
    const bool written = size == 0 || write(fds[1], data, size) == static_cast<ssize_t>(size);
    close(fds[1]);
    if (written) {
        tessaro::VideoFile stream;
        if (stream.OpenY4mStream(fds[0], "-")) {
            std::vector<uint8_t> frame(static_cast<size_t>(stream.frameBytes()));
            for (int k = 0; k < 64 && stream.ReadFrame(k, frame.data()); ++k) {
            }
            if (!stream.StreamEnded()) abort();  // the stream is short: it must have ended
        } else if (stream.Error().empty()) {
            abort();
        }
    }
    close(fds[0]);
    return 0;
}
