// The Windows echo transport over a stand-in for the system's asynchronous echo call: the test ends
// each request when it chooses, writing the reply record as the system does and setting its event.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/core/echo_records.h"
#include "runtime/platform/windows/system_echo_transport.h"

namespace {

using namespace rt::platform;
using rt::icmp::kIpReqTimedOut;
using rt::icmp::kIpSuccess;
using rt::icmp::kIpTtlExpiredTransit;

struct Request {
    HANDLE event;
    uint8_t *reply;
    uint8_t ttl;
};
std::vector<Request> g_requests;
bool g_refuse = false;

DWORD WINAPI StandInSend(HANDLE, HANDLE event, void *, void *, DWORD, void *, WORD, void *options, void *reply, DWORD,
                         DWORD) {
    if (g_refuse) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    g_requests.push_back({event, static_cast<uint8_t *>(reply), static_cast<uint8_t *>(options)[rt::kOptionTtl]});
    ::SetLastError(ERROR_IO_PENDING);
    return 0;
}

DWORD WINAPI StandInParse(void *reply, DWORD) {
    uint16_t replies;
    std::memcpy(&replies, static_cast<uint8_t *>(reply) + rt::kReplyReserved, 2);
    return replies;
}

// The system ends request `i`: an answer from `from`, or none (status kIpReqTimedOut).
void End(size_t i, uint32_t from, uint32_t status, uint32_t roundTripMs) {
    uint8_t *r = g_requests[i].reply;
    uint16_t replies = status == kIpReqTimedOut ? 0 : 1;
    std::memcpy(r + rt::kReplyAddress, &from, 4);
    std::memcpy(r + rt::kReplyStatus, &status, 4);
    std::memcpy(r + rt::kReplyRoundTripTime, &roundTripMs, 4);
    std::memcpy(r + rt::kReplyReserved, &replies, 2);
    r[rt::kReplyOptions + rt::kOptionTtl] = 61;
    ::SetEvent(g_requests[i].event);
}

class SystemEcho : public ::testing::Test {
  protected:
    SystemEchoTransport transport{nullptr, {StandInSend, StandInParse}};
    void SetUp() override {
        g_requests.clear();
        g_refuse = false;
    }
    bool Send(uint8_t ttl, uint16_t sequence) {
        return transport.Send({0x0200000A, ttl, 0, 0, {}, sequence, 200}).has_value();
    }
    // What the transport hands on without waiting, as "sequence:status:from:ms".
    std::vector<std::string> Heard() {
        std::vector<std::string> heard;
        while (auto h = transport.Receive(transport.Now()))
            heard.push_back(std::to_string(h->sequence) + ":" + std::to_string(h->status) + ":" +
                            std::to_string(h->answer.from) + ":" + std::to_string(h->roundTripMs));
        return heard;
    }
};

} // namespace

TEST_F(SystemEcho, RequestsEndingOutOfOrderAreFiledUnderTheirOwnProbes) {
    ASSERT_TRUE(Send(1, 11) && Send(2, 22) && Send(3, 33));
    EXPECT_EQ(transport.Room(), SystemEchoTransport::kRoom - 3);
    EXPECT_TRUE(Heard().empty());
    End(2, 7, kIpSuccess, 3);
    End(0, 5, kIpTtlExpiredTransit, 1);
    EXPECT_EQ(Heard(), (std::vector<std::string>{"11:11013:5:1", "33:0:7:3"}));
    End(1, 0, kIpReqTimedOut, 0);
    EXPECT_EQ(Heard(), (std::vector<std::string>{"22:11010:0:0"}));
    EXPECT_EQ(transport.Room(), SystemEchoTransport::kRoom);
}

TEST_F(SystemEcho, ARequestLeftBehindIsDroppedAndARefusedOneNeverWent) {
    ASSERT_TRUE(Send(1, 11));
    transport.Forget();
    ASSERT_TRUE(Send(1, 12));
    End(0, 5, kIpTtlExpiredTransit, 1); // the answer to the probe left behind
    End(1, 5, kIpTtlExpiredTransit, 2);
    EXPECT_EQ(Heard(), (std::vector<std::string>{"12:11013:5:2"}));
    g_refuse = true;
    EXPECT_FALSE(Send(2, 13));
    EXPECT_FALSE(transport.Broken());
    EXPECT_EQ(transport.Room(), SystemEchoTransport::kRoom);
}
