// Helpers shared by the test binaries: scratch folders, the optional shared sequences, running
// external programs, PSNR of planes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh empty folder for one test, under TESSARO_TEST_TMP or the system's temporary folder.
std::string MakeTempDir(const std::string& name);

// Path of a file of the shared natural sequences, or "" when that folder is absent.
std::string SharedDataFile(const std::string& name);

// Folder of the project's binaries (tessaro-cli and the tools).
std::string BinDir();

// Runs a shell command; returns its exit status and, when `output` is given, its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// True when the named program is on PATH.
bool HaveProgram(const std::string& name);

std::vector<uint8_t> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& data);
bool WriteFile(const std::string& path, const uint8_t* data, size_t size);

// PSNR in dB of two planes of n samples (1000.0 when identical).
double PlanePsnr(const uint8_t* a, const uint8_t* b, size_t n);

}  // namespace testsupport
