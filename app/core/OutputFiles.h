// Creation of the files the jobs write, and the record of the files this process created.
//
// A bitstream's decoded file goes beside the bitstream (or, when that folder is not writable, into
// $XDG_CACHE_HOME/tessaro) and never replaces a file this process did not create itself: when the
// name is taken, the next free one is used (foreman_.qcif, foreman_2.qcif, ...). Only files created
// by this process are ever deleted automatically.
#pragma once

#include <string>

namespace tessaro {

// $XDG_CACHE_HOME/tessaro, with ~/.cache when the variable is unset or not absolute.
std::string DecodedCacheFolder();

// Creates the decoded output for `bitstreamPath` under the file name `decodedName` (see above).
// On success `fd` is open for writing and `path` names the file.
bool CreateDecodedOutput(const std::string& bitstreamPath, const std::string& decodedName, std::string* path,
                         int* fd);

// Creates (or truncates) a file the user named. Records it as created by this process when it did
// not exist before.
bool CreateNamedOutput(const std::string& path, int* fd);

// True when `path` is a file this process created and still holds as created.
bool CreatedByThisProcess(const std::string& path);

// Deletes `path` only when this process created it (and it was not replaced since). True when a
// file was deleted.
bool DeleteDecodedFile(const std::string& path);

// Writes all of `data` to `fd`; false on any error.
bool WriteFully(int fd, const void* data, size_t size);

}  // namespace tessaro
