// Guards against the bus error a mapped file raises when it shrinks while it is read: another
// program truncating a file that is being decoded or encoded must end that run with a message,
// not the whole process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tessaro {

// Runs `read` on the calling thread. Returns false when a bus error (SIGBUS) struck during it; the
// rest of `read` is then abandoned, so it must hold no resources of its own that need releasing
// (objects it works on stay as they were at the fault and should only be destroyed). Bus errors on
// other threads, or outside such a call, keep their usual effect.
bool RunGuardedAgainstBusError(const std::function<void()>& read);

// A read-only shared mapping of part of a file that any thread may read without a guard of its
// own: when a read faults because the file shrank, the whole mapping is replaced by zero pages
// and the read goes on with zeros. The owner asks Faulted() afterwards and drops what was made
// from the mapping. Only a few mappings can be guarded at once; Map fails beyond that.
class GuardedMapping {
  public:
    GuardedMapping() = default;
    ~GuardedMapping() { Unmap(); }
    GuardedMapping(const GuardedMapping&) = delete;
    GuardedMapping& operator=(const GuardedMapping&) = delete;

    // Maps `length` bytes of `fd` from `offset`, a multiple of the page size. False (and nothing
    // mapped) when the system refuses or no guard is free. Unmaps what was mapped before.
    bool Map(int fd, uint64_t offset, size_t length);
    // Nobody may read the mapping any more.
    void Unmap();

    bool mapped() const { return base_ != nullptr; }
    const uint8_t* data() const { return static_cast<const uint8_t*>(base_); }
    uint64_t offset() const { return offset_; }
    size_t size() const { return length_; }
    // A read has faulted since Map: the mapping holds zeros from then on.
    bool Faulted() const;

  private:
    void* base_ = nullptr;
    size_t length_ = 0;
    uint64_t offset_ = 0;
    int slot_ = -1;
};

}  // namespace tessaro
