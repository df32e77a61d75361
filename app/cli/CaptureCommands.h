// The capture commands of tessaro-cli: `capture` takes live frames from a source into a raw file
// or encodes them as they arrive; `sources` lists the sources with their formats and sizes.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace tessaro::cli {

struct CaptureOptions {
    std::string source;  // name or device node; empty: the first source
    std::string format;  // FOURCC; empty: as the source is set
    std::string size;    // WxH or qcif, cif, ...; empty: as the source is set
    int frames = -1;     // raw: frames to take (-1: until interrupted); encoding: EndFrame + 1
    bool encode = false;
    std::string output;
    std::vector<std::string> overrides;  // Group/Name=VALUE, for this run only
    int threads = -1;                    // --threads; -1: as Coder/Threads has it
    std::string deviceFolder = "/dev";
};

int RunCapture(const CaptureOptions& options);
int RunSources(const std::string& deviceFolder);

// Adds both commands to the command line and runs the chosen one.
class CaptureCommands {
  public:
    explicit CaptureCommands(CLI::App& app);
    bool Chosen() const { return *capture_ || *sources_; }
    int Run() const;

  private:
    CaptureOptions options_;
    CLI::App* capture_ = nullptr;
    CLI::App* sources_ = nullptr;
};

}  // namespace tessaro::cli
