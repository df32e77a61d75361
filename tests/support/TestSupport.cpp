#include "TestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace testsupport {

std::string MakeTempDir(const std::string& name) {
    const char* base = std::getenv("TESSARO_TEST_TMP");
    fs::path root = (base && *base) ? fs::path(base) : fs::temp_directory_path() / "tessaro-tests";
    fs::path dir = root / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    return dir.string();
}

std::string SharedDataFile(const std::string& name) {
    fs::path p = fs::path(TESSARO_SHARED_DATA) / name;
    std::error_code ec;
    return fs::is_regular_file(p, ec) ? p.string() : std::string();
}

std::string BinDir() { return TESSARO_BIN_DIR; }

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output) output->append(buffer, n);
    }
    int status = pclose(pipe);
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool HaveProgram(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    return WriteFile(path, data.data(), data.size());
}

double PlanePsnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sse = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double d = static_cast<double>(a[i]) - b[i];
        sse += d * d;
    }
    if (sse == 0.0) return 1000.0;
    return 10.0 * std::log10(65025.0 / (sse / static_cast<double>(n)));
}

}  // namespace testsupport
