// Creation of the files the jobs write, and the record of the files this process created.
//
// A bitstream's decoded file goes beside the bitstream (or, when that folder is not writable, into
// $XDG_CACHE_HOME/tessaro) and never replaces a file this process did not create itself: when the
// name is taken, the next free one is used (foreman_.qcif, foreman_2.qcif, ...). Only files created
// by this process are ever deleted automatically.
#pragma once

#include <cstdint>
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

// Where a path leads, judged by device and inode, so that every spelling of a path, a symbolic link
// and a hard link name the same file. A path that does not exist yet is identified by its folder
// and its last component.
struct FileIdentity {
    bool exists = false;   // the file itself exists (then dev/inode are its own)
    bool regular = false;  // it is a regular file
    uint64_t device = 0, inode = 0;
    std::string leaf;    // for a file that does not exist: its name inside the folder
    bool known = false;  // false: neither the file nor its folder could be examined
    bool operator==(const FileIdentity& o) const {
        return known && o.known && exists == o.exists && device == o.device && inode == o.inode &&
               leaf == o.leaf;
    }
};
FileIdentity IdentifyPath(const std::string& path);
FileIdentity IdentifyOpenFile(int fd);
FileIdentity IdentifyRegularFile(uint64_t device, uint64_t inode);

// An output file the user named, written beside its target under a temporary name and renamed
// over it by Commit(), so that an existing file stays intact until the run has something to put
// in its place and a killed process never leaves it truncated. A target that exists and is not a
// regular file (/dev/null, a terminal) is written directly.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file; false with `error` ("Error Opening <path>: <reason>").
    bool Open(const std::string& path, std::string* error);
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // Closes the file and puts it in place; false with `error` (the system's reason and the file).
    bool Commit(std::string* error);
    // Closes the file and removes the temporary one; the target is left as it was.
    void Discard();

  private:
    std::string path_, temporary_;
    int fd_ = -1;
    bool existedBefore_ = false;
    bool ownedBefore_ = false;  // the target was a file this process had created
};

// Writes all of `data` to `fd`; false on any error.
bool WriteFully(int fd, const void* data, size_t size);

}  // namespace tessaro
