#include "UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tessaro {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& folder) {
    if (folder.empty() || folder == "/" || folder == ".") return true;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!MakeFolders(FolderOf(folder))) return false;
    if (mkdir(folder.c_str(), 0700) == 0) return true;
    // Another process may have made it meanwhile; a file of that name does not count.
    return errno == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string UserBaseFolder(const char* variable, const char* homeFallback) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : "/tmp";
    }
    return std::string(home) + homeFallback;
}

}  // namespace tessaro
