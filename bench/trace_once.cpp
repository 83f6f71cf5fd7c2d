// trace_once TARGET: one whole trace through the program's TraceRun, with the console front end,
// as the trace-versus-traceroute comparison runs it. Prints the rows' addresses.
#include <cstdio>

#include "app/support.h"
#include "runtime/core/runtime.h"
#include "app/trace/trace.h"

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    RtSetProperty(0x52010001, 0x1601000f, RtPropertyComboText, -1, (uint64_t)(uintptr_t)argv[1]);
    TraceRun();
    return 0;
}
