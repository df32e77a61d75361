// Folder handling shared by the settings store and the output files: the folder part of a path,
// creation of a folder chain, and the per-user base folders ($XDG_CONFIG_HOME, $XDG_CACHE_HOME).
#pragma once

#include <string>

namespace tessaro {

// The folder of `path`: "." for a bare name, "/" for a file in the root.
std::string FolderOf(const std::string& path);

// Creates `folder` and any missing parents (mode 0700). True when it exists as a folder afterwards.
bool MakeFolders(const std::string& folder);

// The value of the environment variable `variable` when it is an absolute path, else the user's
// home folder followed by `homeFallback` (for example "/.cache").
std::string UserBaseFolder(const char* variable, const char* homeFallback);

}  // namespace tessaro
