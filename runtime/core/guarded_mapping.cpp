// os::MapReadOnly on POSIX systems: read-only mappings of files whose reads never end the program.
//
// A mapped file that another program cuts short (a copy written over it in place) turns reads of the
// pages past its new end into SIGBUS. The guard answers that signal for its own mappings by putting
// zero pages where the file's pages were: the read that faulted sees zeros, and the reader's own
// bounds checks deal with the nonsense. Faults outside its mappings go on as if it were not there.
#include "os.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace rt {
namespace {

// The guarded ranges. The signal handler reads them without a lock: a range is usable once `begin` is
// set (after `end`), and `begin` is cleared before its mapping goes away.
struct Range {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
};
constexpr size_t kRanges = 32;
Range g_ranges[kRanges];
std::mutex g_rangesMutex; // between the threads that add and remove ranges
struct sigaction g_previous;

void OnBusError(int signal, siginfo_t *info, void *context) {
    auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Range &r : g_ranges) {
        uintptr_t begin = r.begin.load(std::memory_order_acquire);
        uintptr_t end = r.end.load(std::memory_order_acquire);
        if (begin == 0 || at < begin || at >= end) continue;
        // mmap is a plain system call: safe here. The faulting read runs again and finds zeros.
        void *zeros = ::mmap(reinterpret_cast<void *>(begin), end - begin, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) return;
        break;
    }
    // Not ours: whatever handled the signal before the guard handles it now.
    if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction)
        return g_previous.sa_sigaction(signal, info, context);
    if (!(g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN)
        return g_previous.sa_handler(signal);
    ::signal(SIGBUS, SIG_DFL); // the read runs again and ends the program, as without the guard
}

void InstallHandler() {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
}

size_t PagesOf(size_t size) {
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

} // namespace

namespace os {

// Null when the file cannot be mapped or the guard already holds as many mappings as it can (the
// caller reads the file instead).
const uint8_t *MapReadOnly(Handle file, size_t size) {
    static std::once_flag installed;
    std::call_once(installed, InstallHandler);
    std::lock_guard lock(g_rangesMutex);
    for (Range &r : g_ranges) {
        if (r.begin.load(std::memory_order_relaxed) != 0) continue;
        void *p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, int(file), 0);
        if (p == MAP_FAILED) return nullptr;
        auto begin = reinterpret_cast<uintptr_t>(p);
        r.end.store(begin + PagesOf(size), std::memory_order_release);
        r.begin.store(begin, std::memory_order_release);
        return static_cast<const uint8_t *>(p);
    }
    return nullptr;
}

void Unmap(const uint8_t *bytes, size_t size) {
    std::lock_guard lock(g_rangesMutex);
    for (Range &r : g_ranges)
        if (r.begin.load(std::memory_order_relaxed) == reinterpret_cast<uintptr_t>(bytes))
            r.begin.store(0, std::memory_order_release);
    ::munmap(const_cast<uint8_t *>(bytes), size);
}

} // namespace os
} // namespace rt
