// Running tessaro-cli from tests: each test gets a folder of its own that is also the settings
// and cache home, so the user's real settings are never touched.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace clitest {

struct CliRun {
    int status = -1;
    std::string out, err;
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override;

    // Runs `tessaro-cli ARGS` in the test folder.
    CliRun Cli(const std::string& args);
    // The same for a run that must succeed: a failure is recorded (not fatal) with its error text.
    CliRun CliOk(const std::string& args);
    // Writes a synthetic sequence into the test folder and returns its name.
    std::string Generate(const std::string& format, int frames, const std::string& name);
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // Runs a shell command in the test folder with the test's settings home.
    int Shell(const std::string& command, std::string* out = nullptr);

    std::string dir_;
};

std::vector<std::string> Lines(const std::string& text);
bool Contains(const std::vector<std::string>& lines, const std::string& line);

// Frame number -> "Y U V" of the SNR lines of an encode or compare log ("identical" lines give
// "1000.00 1000.00 1000.00"). Byte counts of encode lines go to `bytes` when given.
std::map<int, std::string> SnrByFrame(const std::string& log, std::map<int, int>* bytes = nullptr);
// The "-> Average SNR: ..." line of a log, or "".
std::string AverageLine(const std::string& log);

// Picture coding type of the picture header at `offset`: 'I', 'P', 'B', or '?' when unreadable.
char PictureType(const std::vector<uint8_t>& stream, size_t offset);

}  // namespace clitest
