#include "BusErrorGuard.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

namespace tessaro {
namespace {

thread_local sigjmp_buf* activeGuard = nullptr;

void OnBusError(int signal) {
    if (sigjmp_buf* guard = activeGuard) {
        activeGuard = nullptr;
        siglongjmp(*guard, 1);
    }
    // Not inside a guarded read: the default effect (the process ends with a core dump).
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void InstallHandler() {
    struct sigaction action {};
    action.sa_handler = OnBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_NODEFER;
    sigaction(SIGBUS, &action, nullptr);
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
    static std::once_flag installed;
    std::call_once(installed, InstallHandler);
    return Guarded(read);
}

}  // namespace tessaro
