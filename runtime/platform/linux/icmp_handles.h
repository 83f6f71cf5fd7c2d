// The channels behind the ICMP handles on Linux, beyond what ICMP.DLL's calls say: which channel a
// handle opens, a trace's probing ahead, and what tests and tools ask of a handle.
#pragma once

#include <cstdint>

namespace rt::platform {

// Which channel IcmpCreateFile opens. Automatic: an unprivileged datagram socket where the system
// allows them, otherwise the ICMP helper (beside the program, then the package's), which alone holds
// a raw socket.
enum class IcmpSocketKind { Automatic, Helper, Datagram };
void SetIcmpSocketKind(IcmpSocketKind kind);

// What IcmpCreateFile and IcmpCloseHandle do: a handle (0 when no channel opens), and its end.
uint32_t OpenIcmpHandle();
int32_t CloseIcmpHandle(uint32_t handle);

// IcmpSendEcho for a trace that asks for time-to-live 1, 2, 3 ... one after another and goes no
// further than lastTtl: asked for one hop, the handle also sends the probes for the hops after it (up
// to 16 in flight, none past lastTtl, none once the destination has answered), each with its own
// wait, and answers the later requests from what it heard. Each hop is still probed once, and its
// time is measured from its own probe's send. lastTtl 0, or a request without options or past
// lastTtl: exactly IcmpSendEcho.
uint32_t IcmpSendEchoAhead(uint32_t handle, uint32_t destination, const void *data, uint32_t dataSize, void *options,
                           void *reply, uint32_t replySize, uint32_t timeoutMs, uint8_t lastTtl);

// Tests only: caps every wait for an answer at this many milliseconds (0: no cap), so that a trace
// through silent hops runs quickly. The program never sets it.
void SetIcmpTimeoutCap(uint32_t milliseconds);
// The kind of channel behind a handle; Automatic for an unknown handle.
IcmpSocketKind IcmpHandleKind(uint32_t handle);
// Tests only: the datagram socket behind a handle (-1 for a helper's or an unknown handle).
int IcmpHandleSocket(uint32_t handle);
// Tests only: the echo requests a handle has sent (0 for an unknown handle).
uint32_t IcmpHandleProbesSent(uint32_t handle);

} // namespace rt::platform
