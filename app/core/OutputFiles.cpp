#include "OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "UserFolders.h"

namespace tessaro {
namespace {

// Files created by this process, with the identity they had when created.
struct CreatedFiles {
    std::mutex mutex;
    std::map<std::string, std::pair<dev_t, ino_t>> files;
};

CreatedFiles& Created() {
    static CreatedFiles created;
    return created;
}

void Remember(const std::string& path, int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return;
    std::lock_guard<std::mutex> lock(Created().mutex);
    Created().files[path] = {st.st_dev, st.st_ino};
}

bool IsRemembered(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    std::lock_guard<std::mutex> lock(Created().mutex);
    auto it = Created().files.find(path);
    return it != Created().files.end() && it->second == std::make_pair(st.st_dev, st.st_ino);
}

enum class Claim { kCreated, kTaken, kFolderUnusable };

// Claims `path`: reuses a file this process created, creates a new one, or reports it taken.
Claim ClaimFile(const std::string& path, int* fd) {
    if (IsRemembered(path)) {
        *fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (*fd >= 0) return Claim::kCreated;
    }
    *fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (*fd >= 0) {
        Remember(path, *fd);
        return Claim::kCreated;
    }
    return errno == EEXIST ? Claim::kTaken : Claim::kFolderUnusable;
}

}  // namespace

std::string DecodedCacheFolder() {
    return UserBaseFolder("XDG_CACHE_HOME", "/.cache") + "/tessaro";
}

bool CreateDecodedOutput(const std::string& bitstreamPath, const std::string& decodedName, std::string* path,
                         int* fd) {
    const size_t dot = decodedName.find_last_of('.');
    const std::string stem = dot == std::string::npos ? decodedName : decodedName.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : decodedName.substr(dot);
    const std::string folders[2] = {FolderOf(bitstreamPath), DecodedCacheFolder()};
    for (int f = 0; f < 2; ++f) {
        if (f == 1 && !MakeFolders(folders[1])) break;
        for (int k = 1; k < 10000; ++k) {
            const std::string name = k == 1 ? decodedName : stem + std::to_string(k) + extension;
            const std::string candidate = folders[f] == "." ? name : folders[f] + "/" + name;
            const Claim claim = ClaimFile(candidate, fd);
            if (claim == Claim::kCreated) {
                *path = candidate;
                return true;
            }
            if (claim == Claim::kFolderUnusable) break;
        }
    }
    return false;
}

bool CreateNamedOutput(const std::string& path, int* fd) {
    const Claim claim = ClaimFile(path, fd);
    if (claim == Claim::kCreated) return true;
    if (claim == Claim::kFolderUnusable) return false;
    *fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    return *fd >= 0;
}

bool CreatedByThisProcess(const std::string& path) {
    return IsRemembered(path);
}

bool DeleteDecodedFile(const std::string& path) {
    if (!IsRemembered(path)) return false;
    if (unlink(path.c_str()) != 0) return false;
    std::lock_guard<std::mutex> lock(Created().mutex);
    Created().files.erase(path);
    return true;
}

bool WriteFully(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace tessaro
