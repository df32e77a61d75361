#include "CsvReport.h"

#include <cerrno>

#include "OutputFiles.h"

namespace tessaro {

std::string PictureCsvHeader() {
    return "frame,type,bytes,snr_y,snr_u,snr_v";
}

std::string PictureCsvRow(const PictureReport& p) {
    std::string row = Format("%d,%c,%u", p.frame, p.type, p.bytes);
    row += p.snrMeasured ? Format(",%0.2f,%0.2f,%0.2f", p.snrY, p.snrU, p.snrV) : std::string(",,,");
    return row;
}

std::string ComparisonCsvHeader() {
    return "frame,snr_y,snr_u,snr_v";
}

std::string ComparisonCsvRow(const FrameComparison& f) {
    return Format("%d,%0.2f,%0.2f,%0.2f", f.frame, f.snrY, f.snrU, f.snrV);
}

std::string PictureCsv(const std::vector<PictureReport>& pictures) {
    std::string text = PictureCsvHeader() + "\n";
    for (const PictureReport& p : pictures) text += PictureCsvRow(p) + "\n";
    return text;
}

std::string ComparisonCsv(const std::vector<FrameComparison>& frames) {
    std::string text = ComparisonCsvHeader() + "\n";
    for (const FrameComparison& f : frames) text += ComparisonCsvRow(f) + "\n";
    return text;
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string* error) {
    OutputFile file;
    if (!file.Open(path, error)) return false;
    if (!WriteFully(file.fd(), text.data(), text.size())) {
        *error = "Error writing " + path + ": " + SystemReason(errno);
        file.Discard();
        return false;
    }
    return file.Commit(error);
}

}  // namespace tessaro
