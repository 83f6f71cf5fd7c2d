#include "echo_channel.h"

namespace rt::platform {
namespace {

using icmp::kIpGeneralFailure;

// Files whatever the transport already heard, without waiting.
void CollectHeard(EchoTransport &t, ProbeScheduler &s) {
    while (auto heard = t.Receive(t.Now())) s.Heard(*heard);
    if (t.Broken()) s.FailAll(kIpGeneralFailure);
}

// Sends the probes the scheduler has due while hop `asked` is wanted.
void SendDue(EchoChannel &c, ProbeScheduler &s, uint8_t asked, uint32_t timeoutMs) {
    EchoTransport &t = *c.transport;
    const TraceShape &trace = s.Trace();
    while (auto ttl = s.NextSend(asked, t.Room())) {
        EchoProbe p{trace.destination,   *ttl, trace.tos, trace.flags, trace.data, c.sequences.Draw(c.random),
                    t.Timeout(timeoutMs)};
        if (auto at = t.Send(p)) {
            s.Sent(*ttl, p.sequence, p.timeoutMs, *at);
            ++c.probesSent;
        } else {
            s.Unsent(*ttl);
        }
        if (t.Broken()) s.FailAll(kIpGeneralFailure);
    }
}

// Waits for hop `ttl`'s verdict, filing whatever else is heard meanwhile.
HopResult Await(EchoChannel &c, ProbeScheduler &s, uint8_t ttl) {
    EchoTransport &t = *c.transport;
    for (;;) {
        if (auto result = s.Take(ttl, t.Now())) {
            if (result->overdue) {
                result->status = t.Overdue();
                if (t.Broken()) s.FailAll(kIpGeneralFailure);
            }
            return *result;
        }
        if (auto heard = t.Receive(s.Deadline(ttl))) s.Heard(*heard);
        else if (t.Broken()) s.FailAll(kIpGeneralFailure);
    }
}

} // namespace

HopResult SendOne(EchoChannel &c, EchoProbe probe) {
    c.ahead.Close();
    c.transport->Forget(); // an answer left over from before must not be taken for this one's
    // One hop that is its own last: the scheduler sends it alone.
    ProbeScheduler one(c.transport->GraceMs());
    one.Ask({probe.destination, {probe.data.begin(), probe.data.end()}, probe.tos, probe.flags, probe.ttl}, probe.ttl);
    SendDue(c, one, probe.ttl, probe.timeoutMs);
    return Await(c, one, probe.ttl);
}

HopResult SendAhead(EchoChannel &c, const TraceShape &trace, uint8_t ttl, uint32_t timeoutMs) {
    if (c.ahead.Ask(trace, ttl)) c.transport->Forget();
    CollectHeard(*c.transport, c.ahead); // whether the target answered, and the room at the transport
    SendDue(c, c.ahead, ttl, timeoutMs);
    return Await(c, c.ahead, ttl);
}

} // namespace rt::platform
