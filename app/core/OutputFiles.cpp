#include "OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

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

FileIdentity IdentifyPath(const std::string& path) {
    FileIdentity id;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        id.known = id.exists = true;
        id.regular = S_ISREG(st.st_mode);
        id.device = st.st_dev;
        id.inode = st.st_ino;
        return id;
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    id.leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (stat(folder.c_str(), &st) == 0) {
        id.known = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
    }
    return id;
}

FileIdentity IdentifyOpenFile(int fd) {
    FileIdentity id;
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0) {
        id.known = id.exists = true;
        id.regular = S_ISREG(st.st_mode);
        id.device = st.st_dev;
        id.inode = st.st_ino;
    }
    return id;
}

FileIdentity IdentifyRegularFile(uint64_t device, uint64_t inode) {
    FileIdentity id;
    id.known = id.exists = id.regular = true;
    id.device = device;
    id.inode = inode;
    return id;
}

bool OutputFile::Open(const std::string& path, std::string* error) {
    Discard();
    path_ = path;
    struct stat st {};
    existedBefore_ = stat(path.c_str(), &st) == 0;
    ownedBefore_ = existedBefore_ && IsRemembered(path);
    if (existedBefore_ && S_ISDIR(st.st_mode)) {
        *error = "Error Opening " + path + ": it is a folder";
        return false;
    }
    if (existedBefore_ && !S_ISREG(st.st_mode)) {
        fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) *error = "Error Opening " + path + ": " + std::strerror(errno);
        return fd_ >= 0;
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + leaf + ".part-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        *error = "Error Opening " + path + ": " + std::strerror(errno);
        return false;
    }
    temporary_ = name.data();
    // A replaced file keeps its permissions; a new one gets the usual ones under the umask.
    mode_t mode = 0666;
    if (existedBefore_) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    fchmod(fd_, mode);
    return true;
}

bool OutputFile::Commit(std::string* error) {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        *error = "Error writing " + path_ + ": " + std::strerror(errno);
        if (!temporary_.empty()) unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    if (temporary_.empty()) return true;
    if (rename(temporary_.c_str(), path_.c_str()) != 0) {
        *error = "Error writing " + path_ + ": " + std::strerror(errno);
        unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    temporary_.clear();
    if (!existedBefore_ || ownedBefore_) {
        const int check = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (check >= 0) {
            Remember(path_, check);
            close(check);
        }
    }
    return true;
}

void OutputFile::Discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
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
