// The DLL commands through their thunks and service slot 0x04, as the trace calls them.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstring>

#include "host_fixture.h"
#include "contract/dll.h"
#include "runtime/host/host.h"
#include "formats/packet/icmp_packet.h"
#include "runtime/platform/linux/win32_api.h"

using namespace rt::testing;
namespace win32 = rt::win32;

class DllCommands : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(rt::host::BindDllCommands()); }
};

TEST_F(DllCommands, AddressConversionsBothWays) {
    EXPECT_EQ(Dll_inet_addr("192.0.2.1"), htonl(0xC0000201));
    EXPECT_EQ(Dll_inet_addr(""), win32::kInaddrNone);
    EXPECT_EQ(Dll_inet_addr("1.2.3.256"), win32::kInaddrNone);
    EXPECT_EQ(Dll_inet_addr("not an address"), win32::kInaddrNone);
    EXPECT_STREQ((const char *)Dll_inet_ntoa(htonl(0xCB007102)), "203.0.113.2");
    EXPECT_STREQ((const char *)Dll_inet_ntoa(0), "0.0.0.0");
}

TEST_F(DllCommands, StartupWritesOnlyTheRecordItFills) {
    uint8_t wsadata[400];
    std::memset(wsadata, 0xEE, sizeof wsadata);
    ASSERT_EQ(Dll_WSAStartup(0x0101, wsadata), 0);
    EXPECT_EQ(wsadata[0], 1);
    EXPECT_EQ(wsadata[1], 1);
    for (size_t i = win32::kWsaDataWritten; i < sizeof wsadata; ++i) EXPECT_EQ(wsadata[i], 0xEE) << i;
    EXPECT_EQ(Dll_WSAStartup(0x0000, wsadata), win32::kWsaVersionNotSupported);
    EXPECT_EQ(Dll_WSACleanup(), 0);
}

TEST_F(DllCommands, ResolvesIntoThe16ByteHostRecordAndCopiesOutOfIt) {
    ASSERT_EQ(Dll_WSAStartup(0x0101, nullptr), 0);
    uintptr_t host = Dll_gethostbyname("localhost");
    ASSERT_NE(host, 0u);
    ASSERT_LT(host, uintptr_t(1) << 31) << "the record's 32-bit pointers must reach it";
    // The three copies the resolver makes: the record, the first address pointer, the address bytes.
    win32::HostEnt32 record{};
    Dll_RtlMoveMemoryToRecord(&record, host, 16);
    EXPECT_EQ(record.h_length, 4);
    int32_t first = 0;
    Dll_RtlMoveMemoryToInt(&first, record.h_addr_list, 4);
    uint8_t address[4] = {};
    Dll_RtlMoveMemoryToAddress((uintptr_t)address, (uint32_t)first, 4);
    EXPECT_EQ(address[0], 127);
    EXPECT_EQ(Dll_gethostbyname("192.0.2.7") != 0, true) << "a dotted address resolves to itself";
    EXPECT_EQ(Dll_gethostbyname(""), 0u);
    // Names that are not found need a resolver: those cases run in the namespace tests, where only
    // loopback is asked, so that no query leaves this machine.
    EXPECT_EQ(Dll_WSACleanup(), 0);
    EXPECT_EQ(Dll_gethostbyname("localhost"), 0u) << "no lookups once the socket layer is released";
}

TEST_F(DllCommands, KernelTextAndMemoryFunctions) {
    const char *native = "198.51.100.2";
    EXPECT_EQ(Dll_lstrlenA((uintptr_t)native), 12);
    EXPECT_EQ(Dll_lstrlenA(0), 0);
    char *copy = (char *)RtAlloc(13);
    EXPECT_EQ(Dll_lstrcpyA(copy, (uintptr_t)native), (uintptr_t)copy);
    EXPECT_STREQ(copy, native);
    EXPECT_EQ(Dll_GlobalSize(copy), 13u);
    RtFree(copy);
    uint32_t stack[8] = {};
    EXPECT_EQ(Dll_GlobalSize(stack + 4), 0u) << "a block the runtime did not hand out has no size";
}

TEST_F(DllCommands, EchoOnLoopbackFillsTheReplyAndNeverWritesPastIt) {
    uint32_t handle = Dll_IcmpCreateFile();
    if (handle == 0) GTEST_SKIP() << "no ICMP socket can be opened here (not root and ping_group_range closed)";
    uint8_t options[11] = {64};
    uint8_t reply[64 + 8];
    std::memset(reply, 0xEE, sizeof reply);
    const char data[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
    ASSERT_EQ(Dll_IcmpSendEcho(handle, htonl(0x7F000001), data, 32, options, reply, 64, 1000), 1u);
    uint32_t address, status, rtt;
    std::memcpy(&address, reply + rt::kReplyAddress, 4);
    std::memcpy(&status, reply + rt::kReplyStatus, 4);
    std::memcpy(&rtt, reply + rt::kReplyRoundTripTime, 4);
    EXPECT_EQ(address, htonl(0x7F000001));
    EXPECT_EQ(status, rt::icmp::kIpSuccess);
    EXPECT_LT(rtt, 1000u);
    EXPECT_EQ(std::memcmp(reply + rt::kReplyHeaderSize, data, 32), 0) << "the echoed data follows the reply record";
    for (size_t i = 64; i < sizeof reply; ++i) EXPECT_EQ(reply[i], 0xEE) << "byte " << i << " past the reply size";

    EXPECT_EQ(Dll_IcmpSendEcho(handle, htonl(0x7F000001), data, 32, options, reply, 20, 100), 0u)
        << "a reply size below the reply record";
    EXPECT_EQ(Dll_IcmpSendEcho(handle, 0xFFFFFFFF, data, 32, options, reply, 64, 100), 0u);
    std::memcpy(&status, reply + rt::kReplyStatus, 4);
    EXPECT_EQ(status, rt::icmp::kIpBadDestination) << "broadcast is never probed";
    EXPECT_EQ(Dll_IcmpSendEcho(handle, 0, data, 32, options, reply, 64, 100), 0u);
    EXPECT_EQ(Dll_IcmpCloseHandle(handle), 1);
    EXPECT_EQ(Dll_IcmpSendEcho(handle, htonl(0x7F000001), data, 32, options, reply, 64, 100), 0u) << "a closed handle";
}
