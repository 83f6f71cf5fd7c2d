// ws2_32.dll: socket layer start-up, name resolution and address conversion.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/mman.h>

#include <atomic>
#include <cstring>

#include "win32_api.h"

namespace rt::win32 {
namespace {

std::atomic<int32_t> g_startups{0};

// Where a thread's hostent lives: one page below 2 GiB, so that the record's 32-bit pointers can
// address it, released when the thread ends.
class HostPage {
  public:
    static constexpr size_t kSize = 4096;
    ~HostPage() {
        if (page_) ::munmap(page_, kSize);
    }
    uint8_t *get() {
        if (!page_) {
            void *p = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
            page_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t *>(p);
        }
        return page_;
    }

  private:
    uint8_t *page_ = nullptr;
};

thread_local HostPage t_hostPage;
thread_local char t_dotted[16];

uint32_t Low32(const void *p) { return uint32_t(reinterpret_cast<uintptr_t>(p)); }

} // namespace

int32_t WSAStartup(uint32_t version, void *wsadata) {
    uint8_t major = uint8_t(version & 0xFF), minor = uint8_t(version >> 8);
    if (major < 1 || (major == 1 && minor < 1)) return kWsaVersionNotSupported;
    if (wsadata) {
        uint8_t *d = static_cast<uint8_t *>(wsadata);
        std::memset(d, 0, kWsaDataWritten);
        uint16_t granted = major > 2 || (major == 2 && minor > 2) ? 0x0202 : uint16_t(version);
        uint16_t highest = 0x0202;
        std::memcpy(d + 0, &granted, 2);
        std::memcpy(d + 2, &highest, 2);
        std::strcpy(reinterpret_cast<char *>(d + 4), "WinSock 2.0");
        std::strcpy(reinterpret_cast<char *>(d + 4 + 257), "Running");
        uint16_t maxSockets = 0, maxUdp = 0; // no limits are reported, as for versions 2 and above
        std::memcpy(d + 390, &maxSockets, 2);
        std::memcpy(d + 392, &maxUdp, 2);
    }
    g_startups.fetch_add(1);
    return 0;
}

int32_t WSACleanup() {
    int32_t n = g_startups.load();
    while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1)) {}
    return n > 0 ? 0 : -1; // SOCKET_ERROR when there was no start-up
}

uintptr_t gethostbyname(const char *name) {
    if (g_startups.load() <= 0 || !name) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW; // one entry per address, not one per socket type
    hints.ai_flags = AI_CANONNAME;
    addrinfo *list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || !list) return 0;

    uint8_t *page = t_hostPage.get();
    if (!page) {
        ::freeaddrinfo(list);
        return 0;
    }
    // Layout in the page: the hostent, the address pointers, the addresses, the alias list, the name.
    constexpr size_t kMaxAddresses = 32;
    auto *host = reinterpret_cast<HostEnt32 *>(page);
    auto *pointers = reinterpret_cast<uint32_t *>(page + sizeof(HostEnt32));
    uint8_t *addresses = page + sizeof(HostEnt32) + (kMaxAddresses + 1) * 4;
    auto *aliases = reinterpret_cast<uint32_t *>(addresses + kMaxAddresses * 4);
    char *hostName = reinterpret_cast<char *>(aliases + 1);
    size_t nameRoom = HostPage::kSize - size_t(reinterpret_cast<uint8_t *>(hostName) - page);

    size_t count = 0;
    for (addrinfo *a = list; a && count < kMaxAddresses; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
        const auto *sin = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        std::memcpy(addresses + count * 4, &sin->sin_addr, 4);
        pointers[count] = Low32(addresses + count * 4);
        ++count;
    }
    pointers[count] = 0;
    aliases[0] = 0;
    const char *canonical = list->ai_canonname ? list->ai_canonname : name;
    std::strncpy(hostName, canonical, nameRoom - 1);
    hostName[nameRoom - 1] = 0;
    ::freeaddrinfo(list);
    if (count == 0) return 0;

    host->h_name = Low32(hostName);
    host->h_aliases = Low32(aliases);
    host->h_addrtype = AF_INET;
    host->h_length = 4;
    host->h_addr_list = Low32(pointers);
    return reinterpret_cast<uintptr_t>(host);
}

uint32_t inet_addr(const char *dotted) {
    // inet_aton accepts the same forms as Windows (a, a.b, a.b.c, a.b.c.d; octal and hex parts).
    in_addr a{};
    if (!dotted || !*dotted || ::inet_aton(dotted, &a) == 0) return kInaddrNone;
    return a.s_addr;
}

uintptr_t inet_ntoa(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    ::inet_ntop(AF_INET, &a, t_dotted, sizeof t_dotted);
    return reinterpret_cast<uintptr_t>(t_dotted);
}

} // namespace rt::win32
