#include "CliSupport.h"

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "TestSupport.h"

namespace clitest {

void CliTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = testsupport::MakeTempDir(std::string("cli-") + info->test_suite_name() + "-" + info->name());
    // Also set in this process, so that every command it starts inherits them.
    setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (dir_ + "/cache").c_str(), 1);
}

int CliTest::Shell(const std::string& command, std::string* out) {
    const std::string full = "cd '" + dir_ + "' && export XDG_CONFIG_HOME='" + dir_ +
                             "/config' XDG_CACHE_HOME='" + dir_ + "/cache' && { " + command + "\n}";
    return testsupport::RunCommand(full, out);
}

CliRun CliTest::Cli(const std::string& args) {
    CliRun run;
    const std::string errFile = dir_ + "/.stderr";
    run.status =
        Shell("'" + testsupport::BinDir() + "/tessaro-cli' " + args + " 2>'" + errFile + "'", &run.out);
    std::ifstream in(errFile);
    run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

CliRun CliTest::CliOk(const std::string& args) {
    CliRun run = Cli(args);
    EXPECT_EQ(run.status, 0) << "tessaro-cli " << args << ": " << run.err;
    return run;
}

std::string CliTest::Generate(const std::string& format, int frames, const std::string& name) {
    CliOk("generate --format " + format + " --frames " + std::to_string(frames) + " -o " + name);
    return name;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines) {
        if (l == line) return true;
    }
    return false;
}

std::map<int, std::string> SnrByFrame(const std::string& log, std::map<int, int>* bytes) {
    static const std::regex coded(
        R"(^-> Frame (\d+)(?: \((\d+) bytes\),|:) SNR_Y = ([-\d.]+), SNR_U = ([-\d.]+), SNR_V = ([-\d.]+)$)");
    static const std::regex same(R"(^-> Frame (\d+): identical \(SNR_Y = SNR_U = SNR_V = 1000\.00\)$)");
    std::map<int, std::string> snr;
    for (const std::string& line : Lines(log)) {
        std::smatch m;
        if (std::regex_match(line, m, coded)) {
            snr[std::stoi(m[1])] = m[3].str() + " " + m[4].str() + " " + m[5].str();
            if (bytes && m[2].matched) (*bytes)[std::stoi(m[1])] = std::stoi(m[2]);
        } else if (std::regex_match(line, m, same)) {
            snr[std::stoi(m[1])] = "1000.00 1000.00 1000.00";
        }
    }
    return snr;
}

std::string AverageLine(const std::string& log) {
    for (const std::string& line : Lines(log)) {
        if (line.rfind("-> Average SNR:", 0) == 0) return line;
    }
    return "";
}

namespace {

uint32_t Bits(const std::vector<uint8_t>& s, size_t bitPos, int count) {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i, ++bitPos) v = (v << 1) | ((s[bitPos >> 3] >> (7 - (bitPos & 7))) & 1u);
    return v;
}

}  // namespace

char PictureType(const std::vector<uint8_t>& s, size_t offset) {
    if (offset + 9 > s.size() || Bits(s, offset * 8, 22) != 0x20) return '?';
    const size_t p = offset * 8 + 30;  // PTYPE
    if (Bits(s, p + 5, 3) != 7) return Bits(s, p + 8, 1) == 0 ? 'I' : 'P';
    const uint32_t ufep = Bits(s, p + 8, 3);
    const size_t mpptype = p + 11 + (ufep == 1 ? 18 : 0);
    switch (Bits(s, mpptype, 3)) {
        case 0:
            return 'I';
        case 1:
            return 'P';
        case 3:
            return 'B';
        default:
            return '?';
    }
}

}  // namespace clitest
