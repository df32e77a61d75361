#include "SettingsStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "UserFolders.h"

namespace tessaro {
namespace {

constexpr size_t kMaxSettingsFile = 1 << 20;  // anything larger is not a settings file

// Groups are written in the order of the settings dialog, unknown ones after them.
const char* const kGroupOrder[] = {"General", "Coder", "Advanced", "Capture"};

std::string Escape(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

enum class FileState { kMissing, kOk, kCorrupt, kUnreadable, kNotRegular };

FileState ReadSettingsFile(const std::string& path, SettingsMap* values, std::string* why) {
    values->clear();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return FileState::kMissing;
        *why = ErrnoText(errno);
        return FileState::kUnreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = "not a regular file";
        return FileState::kNotRegular;
    }
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return FileState::kMissing;
        *why = ErrnoText(errno);
        return FileState::kUnreadable;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            *why = ErrnoText(errno);
            close(fd);
            return FileState::kUnreadable;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxSettingsFile) {
            close(fd);
            *why = "file too large";
            return FileState::kCorrupt;
        }
    }
    close(fd);
    int badLines = 0;
    if (!ParseSettings(text, values, &badLines)) {
        // The lines that could be read still count: one bad line costs that line only.
        *why = badLines > 0
                   ? std::to_string(badLines) + (badLines == 1 ? " line" : " lines") + " not understood"
                   : std::string("not a settings file");
        return FileState::kCorrupt;
    }
    return FileState::kOk;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A settings file the user may not write, or one marked read-only (no write permission for
// anyone). The file is replaced by renaming, which its own permissions would not stop, and the
// superuser passes every access check: the mode bits keep it from overwriting a file the user
// protected.
bool IsReadOnly(const std::string& path) {
    struct stat st {};
    if (access(path.c_str(), W_OK) != 0) return true;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// A name for the backup copy of a damaged file that does not replace an earlier backup.
std::string BackupName(const std::string& path) {
    std::string name = path + ".corrupt";
    for (int k = 2; access(name.c_str(), F_OK) == 0 && k < 1000; ++k)
        name = path + ".corrupt." + std::to_string(k);
    return name;
}

// Holds an exclusive advisory lock on "<settings>.lock" for one read-modify-write.
class LockFile {
  public:
    explicit LockFile(const std::string& path) {
        fd_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return;
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~LockFile() {
        if (fd_ >= 0) close(fd_);  // closing releases the lock
    }
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace

bool MemorySettingsStore::Update(const std::function<void(SettingsMap&)>& edit) {
    SettingsMap next = values_;
    edit(next);
    if (next != values_) {
        values_ = std::move(next);
        ++writes_;
    }
    return true;
}

SettingsMap OverlaySettingsStore::ReadAll() {
    SettingsMap values = base_.ReadAll();
    for (const auto& [key, text] : overrides_) values[key] = text;
    return values;
}

std::string SerializeSettings(const SettingsMap& values) {
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> groups;
    for (const auto& [key, text] : values) {
        size_t slash = key.find('/');
        if (slash == std::string::npos || slash == 0 || slash + 1 == key.size()) continue;
        groups[key.substr(0, slash)].push_back({key.substr(slash + 1), text});
    }
    std::string out = "# Tessaro settings\n";
    auto emit = [&](const std::string& group) {
        auto it = groups.find(group);
        if (it == groups.end()) return;
        out += "\n[" + group + "]\n";
        for (const auto& [name, text] : it->second) out += name + "=" + Escape(text) + "\n";
        groups.erase(it);
    };
    for (const char* group : kGroupOrder) emit(group);
    while (!groups.empty()) emit(groups.begin()->first);
    return out;
}

bool ParseSettings(const std::string& text, SettingsMap* values, int* badLines) {
    values->clear();
    int bad = 0;
    if (badLines) *badLines = 0;
    if (text.find('\0') != std::string::npos) return false;
    std::string group;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
        if (trimmed[0] == '[') {
            // A broken group line leaves the lines under it without a group: they are skipped
            // (and not counted again) until the next good group line.
            group.clear();
            if (trimmed.back() != ']') {
                ++bad;
                continue;
            }
            const std::string name = Trim(trimmed.substr(1, trimmed.size() - 2));
            if (name.empty() || name.find('/') != std::string::npos) {
                ++bad;
                continue;
            }
            group = name;
            continue;
        }
        size_t eq = line.find('=');
        const std::string name = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
        if (group.empty() || name.empty() || name.find('/') != std::string::npos) {
            ++bad;
            continue;
        }
        (*values)[group + "/" + name] = Unescape(line.substr(eq + 1));
    }
    if (badLines) *badLines = bad;
    return bad == 0;
}

SettingsMap FileSettingsStore::ReadAll() {
    SettingsMap values;
    std::string why;
    FileState state = ReadSettingsFile(path_, &values, &why);
    if (state != FileState::kOk && state != FileState::kMissing) {
        Report("settings file " + path_ + " cannot be used in full (" + why + "); " +
               (values.empty() ? "defaults apply" : "the readable settings apply"));
    }
    return values;
}

bool FileSettingsStore::Write(const std::function<void(SettingsMap&)>& edit, bool rewriteDamaged) {
    const std::string folder = FolderOf(path_);
    if (!MakeFolders(folder)) {
        Report("settings not saved: cannot create folder " + folder);
        return false;
    }
    LockFile lock(path_);
    if (!lock.Held()) {
        Report("settings not saved: cannot lock " + path_ + ".lock (" + ErrnoText(errno) + ")");
        return false;
    }
    SettingsMap current;
    std::string why;
    const FileState state = ReadSettingsFile(path_, &current, &why);
    if (state == FileState::kNotRegular) {
        Report("settings not saved: " + path_ + " is " + why);
        return false;
    }
    if (state == FileState::kUnreadable) {
        // A file the user cannot read (its permissions) is not damaged: it is left alone.
        Report("settings not saved: " + path_ + " cannot be read (" + why + "); it is left as it is");
        return false;
    }
    SettingsMap next = current;
    edit(next);
    // Nothing differs: the file is not touched, unless it is damaged and gets rewritten clean.
    if (next == current && !(rewriteDamaged && state == FileState::kCorrupt)) return true;

    if (state == FileState::kOk && IsReadOnly(path_)) {
        Report("settings not saved: " + path_ + " is read-only");
        return false;
    }
    if (state == FileState::kCorrupt) {
        // Keep the damaged file: move it aside rather than writing over it.
        const std::string backup = BackupName(path_);
        if (rename(path_.c_str(), backup.c_str()) != 0) {
            Report("settings not saved: cannot keep the damaged " + path_ + " as " + backup);
            return false;
        }
        Report("settings file " + path_ + " was damaged (" + why + "); kept as " + backup);
    }

    std::string temp = path_ + ".tmp.XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        Report("settings not saved: cannot create a file in " + folder + " (" + ErrnoText(errno) + ")");
        return false;
    }
    temp = name.data();
    const bool written = WriteAll(fd, SerializeSettings(next)) && fsync(fd) == 0;
    const int writeError = errno;
    if (close(fd) != 0 || !written) {
        unlink(temp.c_str());
        Report("settings not saved: writing " + temp + " failed (" + ErrnoText(writeError) + ")");
        return false;
    }
    if (rename(temp.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        unlink(temp.c_str());
        Report("settings not saved: cannot replace " + path_ + " (" + ErrnoText(error) + ")");
        return false;
    }
    // Make the rename itself durable.
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

std::string DefaultSettingsPath() {
    return UserBaseFolder("XDG_CONFIG_HOME", "/.config") + "/tessaro/settings.ini";
}

}  // namespace tessaro
