// Commands on the window's controls, the trace thread and web addresses. Each checks its arguments
// and hands the work to the front end.
#include <thread>

#include "runtime.h"

namespace rt {
namespace {

FrontEnd &Ui(Args &a) { return a.runtime().frontEnd(); }

// ---- The combo box (core library) ----

// 0x3b0: the number of items.
RtResult ComboCount(Args &a) {
    auto u = a.unit(0);
    return ResultOfInt(Ui(a).ComboCount(u.window, u.unit));
}

// 0x3bc: the text of the item at a zero-based index.
RtResult ComboItem(Args &a) {
    auto u = a.unit(0);
    int64_t index = a.integer(1);
    if (index < 0) a.fail(RtErrorIndexBelowOne, "item index " + std::to_string(index));
    auto text = Ui(a).ComboItem(u.window, u.unit, int32_t(index));
    if (!text) a.fail(RtErrorIndexAboveBound, "item index " + std::to_string(index));
    return ResultOfText(*text);
}

// 0x3c4: appends an item (the third argument, a position, is left out by the program).
RtResult ComboAppend(Args &a) {
    auto u = a.unit(0);
    Ui(a).ComboAppend(u.window, u.unit, a.text(1));
    return ResultOfNothing();
}

// 0x3d0: empties the item list; the edit field keeps its text.
RtResult ComboClear(Args &a) {
    auto u = a.unit(0);
    Ui(a).ComboClear(u.window, u.unit);
    return ResultOfNothing();
}

// 0x360: ends the program (the window as a unit, one argument left out).
RtResult EndProgram(Args &a) {
    (void)a.unit(0);
    Ui(a).RequestQuit();
    return ResultOfNothing();
}

// ---- The result list (extended UI library, row 1) ----

// 0x100: appends an empty row at the end; the six further arguments are left out. Its index.
RtResult ListAppend(Args &a) {
    auto u = a.unit(0);
    return ResultOfInt(Ui(a).ListAppendRow(u.window, u.unit));
}

// 0x108: removes all rows.
RtResult ListClear(Args &a) {
    auto u = a.unit(0);
    Ui(a).ListClear(u.window, u.unit);
    return ResultOfNothing();
}

// 0xd4: sets the text of a cell (row and column zero-based).
RtResult ListSetCell(Args &a) {
    auto u = a.unit(0);
    int64_t row = a.integer(1), column = a.integer(2);
    if (row < 0 || column < 0) a.fail(RtErrorIndexBelowOne, "cell " + std::to_string(row) + ", " + std::to_string(column));
    if (!Ui(a).ListSetCell(u.window, u.unit, int32_t(row), int32_t(column), a.text(3)))
        a.fail(RtErrorIndexAboveBound, "cell " + std::to_string(row) + ", " + std::to_string(column));
    return ResultOfNothing();
}

// ---- Threads (threading library, row 2) ----

// 0: starts a routine of the program on a new thread; the two further arguments are left out.
// The thread is not waited for: ending the program ends it.
RtResult StartThread(Args &a) {
    auto routine = reinterpret_cast<void (*)()>(a.routine(0));
    std::thread(routine).detach();
    return ResultOfBool(true);
}

// ---- Web addresses (application-interface library, row 4) ----

// 0xe0: opens a web address in the system's browser.
RtResult OpenUrl(Args &a) {
    Ui(a).OpenUrl(a.text(0));
    return ResultOfBool(true);
}

} // namespace

void AddWindowCommands(CommandTable &core, CommandTable &extendedUi, CommandTable &threading, CommandTable &api) {
    core.add(0x3b0, ComboCount);
    core.add(0x3bc, ComboItem);
    core.add(0x3c4, ComboAppend);
    core.add(0x3d0, ComboClear);
    core.add(0x360, EndProgram);
    extendedUi.add(0x100, ListAppend);
    extendedUi.add(0x108, ListClear);
    extendedUi.add(0xd4, ListSetCell);
    threading.add(0, StartThread);
    api.add(0xe0, OpenUrl);
}

} // namespace rt
