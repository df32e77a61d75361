#include "BusErrorGuard.h"

#include <sys/mman.h>

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <mutex>

namespace tessaro {
namespace {

thread_local sigjmp_buf* activeGuard = nullptr;

// The guarded mappings, read by the signal handler: lock-free atomics only. A slot is taken by
// `owner`, then published by `begin` (0: none).
struct MappingSlot {
    std::atomic<bool> owned{false};
    std::atomic<uintptr_t> begin{0};
    std::atomic<size_t> length{0};
    std::atomic<bool> faulted{false};
};
constexpr int kSlots = 8;
MappingSlot slots[kSlots];

// Zero pages in place of the guarded mapping that holds `address`: the read that faulted and every
// later one find zeros. False when no guarded mapping holds it.
bool AbsorbInMapping(uintptr_t address) {
    for (MappingSlot& slot : slots) {
        const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        const size_t length = slot.length.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address - begin >= length) continue;
        void* zeros = mmap(reinterpret_cast<void*>(begin), length, PROT_READ,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros == MAP_FAILED) return false;
        slot.faulted.store(true, std::memory_order_release);
        return true;
    }
    return false;
}

void OnBusError(int signal, siginfo_t* info, void*) {
    if (info != nullptr && AbsorbInMapping(reinterpret_cast<uintptr_t>(info->si_addr))) return;
    if (sigjmp_buf* guard = activeGuard) {
        activeGuard = nullptr;
        siglongjmp(*guard, 1);
    }
    // Neither in a guarded mapping nor inside a guarded read: the default effect (the process
    // ends with a core dump).
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void InstallHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigaction(SIGBUS, &action, nullptr);
    });
}

// The part that must not be inlined into the caller: the frame that holds the jump buffer.
[[gnu::noinline]] bool Guarded(const std::function<void()>& read) {
    sigjmp_buf buffer;
    if (sigsetjmp(buffer, 1) != 0) return false;  // back from the handler
    activeGuard = &buffer;
    read();
    activeGuard = nullptr;
    return true;
}

}  // namespace

bool RunGuardedAgainstBusError(const std::function<void()>& read) {
    InstallHandler();
    return Guarded(read);
}

bool GuardedMapping::Map(int fd, uint64_t offset, size_t length) {
    Unmap();
    if (length == 0) return false;
    InstallHandler();
    int slot = 0;
    for (; slot < kSlots; ++slot) {
        bool free = false;
        if (slots[slot].owned.compare_exchange_strong(free, true, std::memory_order_acq_rel)) break;
    }
    if (slot == kSlots) return false;
    void* base = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (base == MAP_FAILED) {
        slots[slot].owned.store(false, std::memory_order_release);
        return false;
    }
    MappingSlot& s = slots[slot];
    s.faulted.store(false, std::memory_order_relaxed);
    s.length.store(length, std::memory_order_release);
    s.begin.store(reinterpret_cast<uintptr_t>(base), std::memory_order_release);
    base_ = base;
    length_ = length;
    offset_ = offset;
    slot_ = slot;
    return true;
}

void GuardedMapping::Unmap() {
    if (base_ == nullptr) return;
    MappingSlot& s = slots[slot_];
    s.begin.store(0, std::memory_order_release);
    munmap(base_, length_);
    s.owned.store(false, std::memory_order_release);
    base_ = nullptr;
    length_ = 0;
    offset_ = 0;
    slot_ = -1;
}

bool GuardedMapping::Faulted() const {
    return slot_ >= 0 && slots[slot_].faulted.load(std::memory_order_acquire);
}

}  // namespace tessaro
