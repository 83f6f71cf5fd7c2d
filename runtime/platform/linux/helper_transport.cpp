// The helper's transport, and how the helper is found and started.
#include "helper_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "formats/io/io.h"
#include "formats/packet/echo_service.h"
#include "runtime/core/files.h"
#include "runtime/platform/platform.h"
#include "runtime/platform/probe_scheduler.h"

namespace rt::platform {
namespace {

using namespace icmp;

// How long a started helper may take to say it is ready, and how long past a request's own timeout
// its answer may take: bounds for a helper that hangs, never reached by one that works.
constexpr int kHelperStartMs = 5000;
constexpr int kHelperGraceMs = 2000;
static_assert(ProbeScheduler::kWindow <= kEchoServiceMaxOutstanding, "a trace's window fits at the helper");

// The folder of the running program, with its trailing slash.
std::string OwnFolder() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || size_t(n) >= sizeof path) return {};
    std::string self(path, size_t(n));
    return self.substr(0, self.rfind('/') + 1);
}

// Starts the helper on a new socket pair from the descriptor of the file that was checked (nothing
// can be put in its place between the check and the start), and waits for its first record, which
// it writes once it holds its socket and has given up every other right. -1 when it does not start
// or cannot open its socket (it ends then).
int StartHelper(int file, const std::string &name, pid_t &pid) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    std::string argv0 = name;
    char *argv[] = {argv0.data(), nullptr};
    char *envp[] = {nullptr}; // nothing of the user's environment
    pid = ::vfork();
    if (pid == 0) { // the child shares the memory until it runs the helper: nothing but these calls
        if (::dup2(pair[1], 0) == 0) ::syscall(SYS_execveat, file, "", argv, envp, AT_EMPTY_PATH);
        ::_exit(127);
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        return -1;
    }
    pollfd p{pair[0], POLLIN, 0};
    uint8_t record[kEchoResponseRecordSize + 1];
    ssize_t n = -1;
    if (::poll(&p, 1, kHelperStartMs) == 1) n = ::recv(pair[0], record, sizeof record, MSG_DONTWAIT);
    auto ready = n > 0 ? DecodeEchoResponse({record, size_t(n)}) : std::nullopt;
    if (ready && ready->status == kEchoServiceReady) return pair[0];
    ::close(pair[0]);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    return -1;
}

// Starts the helper at that path when it is there and this user's own to run (another user may have
// put a file of that name beside a copy in a shared folder); a file passed over is said once.
int StartCheckedHelper(const std::string &path, pid_t &pid) {
    int file = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (file < 0 && errno == ELOOP) {
        NotePassedOver(path, "it is a link");
        return -1;
    }
    if (file < 0) return -1;
    struct stat st;
    int fd = -1;
    if (::fstat(file, &st) != 0) {
        NotePassedOver(path, "it cannot be examined");
    } else if (auto why = io::WhyNotOwn(path, &st)) {
        NotePassedOver(path, *why);
    } else {
        fd = StartHelper(file, io::NameOf(path), pid);
    }
    ::close(file);
    return fd;
}

// Where the product said its helper is (function-local: a product may say so from a static
// initialiser of its own).
std::mutex &PlaceMutex() {
    static std::mutex m;
    return m;
}
EchoHelperPlace &Place() {
    static EchoHelperPlace place;
    return place;
}

// The helper beside the program first (a portable copy brings its own), then the package's.
int OpenHelper(pid_t &pid) {
    EchoHelperPlace place;
    {
        std::lock_guard lock(PlaceMutex());
        place = Place();
    }
    if (place.fileName.empty() || place.fileName.find('/') != std::string::npos) return -1;
    std::string folder = OwnFolder();
    if (!folder.empty()) {
        int fd = StartCheckedHelper(folder + place.fileName, pid);
        if (fd >= 0) return fd;
    }
    if (place.packageFolder.empty()) return -1;
    return StartCheckedHelper(place.packageFolder + "/" + place.fileName, pid);
}

// The helper sends "a" bytes only (what the program's probes carry), at most kEchoServiceMaxData.
bool HelperCanCarry(std::span<const uint8_t> data) {
    return data.size() <= kEchoServiceMaxData &&
           std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 'a'; });
}

// A response as the answer it reports: nothing for a timeout or a failure.
std::optional<EchoAnswer> AnswerOf(const EchoServiceResponse &response) {
    if (response.status == kIpReqTimedOut || response.status == kIpGeneralFailure) return std::nullopt;
    EchoAnswer a;
    a.from = response.from;
    a.status = response.status;
    a.ttl = response.ttl;
    a.tos = response.tos;
    return a;
}

} // namespace

void SetEchoHelperPlace(EchoHelperPlace place) {
    std::lock_guard lock(PlaceMutex());
    Place() = std::move(place);
}

std::unique_ptr<HelperTransport> HelperTransport::Open() {
    pid_t pid = -1;
    int fd = OpenHelper(pid);
    if (fd < 0) return nullptr;
    return std::unique_ptr<HelperTransport>(new HelperTransport(fd, pid));
}

HelperTransport::~HelperTransport() {
    ::close(fd_);
    ::kill(pid_, SIGKILL); // it may be waiting out a request; nothing of it is needed
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
}

unsigned HelperTransport::Room() const {
    return broken_ || atHelper_ >= kEchoServiceMaxOutstanding ? 0 : kEchoServiceMaxOutstanding - atHelper_;
}

uint32_t HelperTransport::Timeout(uint32_t timeoutMs) const {
    return std::clamp<uint32_t>(timeoutMs, 1, kEchoServiceMaxTimeoutMs);
}

uint32_t HelperTransport::GraceMs() const { return kHelperGraceMs; }

uint32_t HelperTransport::Overdue() {
    Abandon(); // it answers every request by the request's own deadline
    return kIpGeneralFailure;
}

void HelperTransport::Abandon() {
    ::kill(pid_, SIGKILL);
    broken_ = true;
}

std::optional<EchoClock::time_point> HelperTransport::Send(const EchoProbe &probe) {
    // The helper refuses another type of service than the program's own, 0.
    if (broken_ || probe.ttl == 0 || probe.tos != 0 || !HelperCanCarry(probe.data)) return std::nullopt;
    // Where the channel already has kEchoServiceMaxOutstanding requests there (those of a trace it
    // left behind), it first waits for their answers: the helper answers each by its own deadline.
    auto limit = EchoClock::now() + std::chrono::milliseconds(kEchoServiceMaxTimeoutMs + kHelperGraceMs);
    while (atHelper_ >= kEchoServiceMaxOutstanding) {
        EchoHeard heard;
        Read read = EchoClock::now() >= limit ? Read::Broken : ReadOne(limit, heard);
        if (read == Read::Broken) {
            Abandon();
            return std::nullopt;
        }
        if (read == Read::Response) heard_.push_back(heard);
    }
    EchoServiceRequest r;
    r.destination = probe.destination;
    r.timeoutMs = Timeout(probe.timeoutMs);
    r.dataSize = uint16_t(probe.data.size());
    r.ttl = probe.ttl;
    r.tag = probe.sequence;
    uint8_t record[kEchoRequestRecordSize];
    EncodeEchoRequest(r, record);
    if (::send(fd_, record, sizeof record, MSG_NOSIGNAL) != ssize_t(sizeof record)) {
        Abandon();
        return std::nullopt;
    }
    ++atHelper_;
    return EchoClock::now(); // waiting for room at the helper does not count
}

// Waits for the helper's next response, at most until the deadline. Broken: the helper ended or sent
// something other than a response.
HelperTransport::Read HelperTransport::ReadOne(EchoClock::time_point deadline, EchoHeard &heard) {
    pollfd p{fd_, POLLIN, 0};
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - EchoClock::now()).count();
    int wait = int(std::max<int64_t>(0, left));
    int ready;
    while ((ready = ::poll(&p, 1, wait)) < 0 && errno == EINTR) {}
    if (ready == 0) return Read::Nothing;
    uint8_t answer[kEchoResponseRecordSize + 1];
    ssize_t n = ready == 1 ? ::recv(fd_, answer, sizeof answer, MSG_DONTWAIT) : -1;
    if (n < 0 && errno == EAGAIN) return Read::Nothing;
    auto decoded = n > 0 ? DecodeEchoResponse({answer, size_t(n)}) : std::nullopt;
    if (!decoded || decoded->status == kEchoServiceReady) return Read::Broken;
    if (atHelper_) --atHelper_; // every request is answered once
    heard = {decoded->tag, decoded->status, AnswerOf(*decoded).value_or(EchoAnswer{}), decoded->roundTripMs};
    return Read::Response;
}

std::optional<EchoHeard> HelperTransport::Receive(EchoClock::time_point until) {
    for (;;) {
        if (!heard_.empty()) {
            EchoHeard heard = heard_.front();
            heard_.pop_front();
            return heard;
        }
        if (broken_) return std::nullopt;
        EchoHeard heard;
        Read read = ReadOne(until, heard);
        if (read == Read::Response) return heard;
        if (read == Read::Broken) {
            Abandon();
            return std::nullopt;
        }
        if (EchoClock::now() >= until) return std::nullopt;
    }
}

} // namespace rt::platform
