#include "CompareJob.h"

#include <algorithm>
#include <vector>

namespace tessaro {

bool CompareJob::Start(const VideoFile& first, const VideoFile& second, JobObserver& observer) {
    Wait();
    if (!first.isRaw() || !second.isRaw()) {
        observer.Error("Error Opening " + (first.isRaw() ? second.name() : first.name()));
        return false;
    }
    if (first.format() != second.format() || first.width() != second.width() ||
        first.height() != second.height()) {
        observer.Error("Can't compare video files of\ndifferent formats/frame sizes");
        return false;
    }
    first_ = &first;
    second_ = &second;
    observer_ = &observer;
    Launch(observer);
    return true;
}

void CompareJob::Run() {
    JobObserver& out = *observer_;
    const VideoFile& a = *first_;
    const VideoFile& b = *second_;
    out.Log(Format("-> Comparing video files: %s and %s", a.name().c_str(), b.name().c_str()));
    const int n = std::min(a.frameCount(), b.frameCount());
    std::vector<uint8_t> frameA(static_cast<size_t>(a.frameBytes())),
        frameB(static_cast<size_t>(b.frameBytes()));
    double sumY = 0.0, sumU = 0.0, sumV = 0.0;
    int compared = 0;
    std::string failure;
    for (int i = 0; i < n && running_.load(); ++i) {
        if (!a.ReadFrame(i, frameA.data()) || !b.ReadFrame(i, frameB.data())) {
            failure = Format("Error reading frame %d of %s and %s", i, a.name().c_str(), b.name().c_str());
            out.Error(failure);
            running_.store(false);
            break;
        }
        double y = 0.0, u = 0.0, v = 0.0;
        MeasureFrameSnr(frameA.data(), frameB.data(), a.width(), a.height(), &y, &u, &v);
        if (y == 1000.0 && u == 1000.0 && v == 1000.0) {
            out.Log(Format("-> Frame %d: identical (SNR_Y = SNR_U = SNR_V = 1000.00)", i));
        } else {
            out.Log(Format("-> Frame %d: SNR_Y = %0.2f, SNR_U = %0.2f, SNR_V = %0.2f", i, y, u, v));
        }
        out.Compared(FrameComparison{i, y, u, v});
        sumY += y;
        sumU += u;
        sumV += v;
        ++compared;
    }
    out.Log(Format("-> Average SNR: SNR_Y = %0.4f, SNR_U = %0.4f, SNR_V = %0.4f", sumY / compared,
                   sumU / compared, sumV / compared));
    out.Log(Format("-> Total frames compared: %d", compared));
    out.Log("");
    result_.frames = compared;
    Finish(out, running_.load(), failure);
}

}  // namespace tessaro
