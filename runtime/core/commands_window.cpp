// Commands on the window's controls, the trace thread and web addresses. Each checks its arguments;
// a control command changes the control model, which the front end shows. The list commands also
// tell the trace's records of the rows the program writes.
#include <thread>

#include "runtime.h"
#include "trace_records.h"

namespace rt {
namespace {

FrontEnd &Ui(Args &a) { return a.runtime().frontEnd(); }
ControlModel &Controls(Args &a) { return Ui(a).controls(); }

// ---- The combo box (core library) ----

// ComboCount: the number of items.
RtResult ComboCount(Args &a) {
    auto u = a.unit(0);
    return ResultOfInt(Controls(a).ItemCount(u.unit));
}

// ComboItem: the text of the item at a zero-based index.
RtResult ComboItem(Args &a) {
    auto u = a.unit(0);
    int64_t index = a.integer(1);
    if (index < 0) a.fail(RtErrorIndexBelowOne, "item index " + std::to_string(index));
    auto text = Controls(a).Item(u.unit, int32_t(index));
    if (!text) a.fail(RtErrorIndexAboveBound, "item index " + std::to_string(index));
    return ResultOfText(*text);
}

// ComboAppend: appends an item (the third argument, a position, is left out by the program).
RtResult ComboAppend(Args &a) {
    auto u = a.unit(0);
    Controls(a).AppendItem(u.unit, std::string(a.text(1)));
    return ResultOfNothing();
}

// ComboClear: empties the item list; the edit field keeps its text.
RtResult ComboClear(Args &a) {
    auto u = a.unit(0);
    Controls(a).ClearItems(u.unit);
    return ResultOfNothing();
}

// EndProgram: ends the program (the window as a unit, one argument left out).
RtResult EndProgram(Args &a) {
    (void)a.unit(0);
    Ui(a).RequestQuit();
    return ResultOfNothing();
}

// ---- The result list (extended UI library, row 1) ----

// ListAppendRow: appends an empty row at the end; the six further arguments are left out. Its index.
RtResult ListAppend(Args &a) {
    auto u = a.unit(0);
    int32_t row = Controls(a).AppendRow(u.unit);
    Traces().RowAppended(u.unit, row);
    return ResultOfInt(row);
}

// ListClear: removes all rows.
RtResult ListClear(Args &a) {
    auto u = a.unit(0);
    Controls(a).ClearRows(u.unit);
    Traces().RowsCleared(u.unit);
    return ResultOfNothing();
}

// ListSetCell: sets the text of a cell (row and column zero-based).
RtResult ListSetCell(Args &a) {
    auto u = a.unit(0);
    int64_t row = a.integer(1), column = a.integer(2);
    if (row < 0 || column < 0)
        a.fail(RtErrorIndexBelowOne, "cell " + std::to_string(row) + ", " + std::to_string(column));
    if (!Controls(a).SetCell(u.unit, int32_t(row), int32_t(column), std::string(a.text(3))))
        a.fail(RtErrorIndexAboveBound, "cell " + std::to_string(row) + ", " + std::to_string(column));
    Traces().CellWritten(u.unit, int32_t(row), int32_t(column), a.text(3));
    return ResultOfNothing();
}

// ---- Threads (threading library, row 2) ----

// StartThread: starts a routine of the program on a new thread; the two further arguments are left out.
// The thread is not waited for: ending the program ends it.
RtResult StartThread(Args &a) {
    auto routine = reinterpret_cast<void (*)()>(a.routine(0));
    Runtime &runtime = a.runtime();
    runtime.ThreadStarted();
    std::thread([routine, &runtime] {
        routine();
        runtime.ThreadEnded();
    }).detach();
    return ResultOfBool(true);
}

// ---- Web addresses (application-interface library, row 4) ----

// OpenUrl: opens a web address in the system's browser.
RtResult OpenUrl(Args &a) {
    Ui(a).OpenUrl(a.text(0));
    return ResultOfBool(true);
}

// MessageBox: a message box (text, style, title or left out, a fourth argument left out).
RtResult MessageBox(Args &a) {
    std::optional<std::string_view> title;
    if (!a.omitted(2)) title = a.text(2);
    Ui(a).ShowMessage(a.text(0), int32_t(a.integer(1)), title);
    return ResultOfInt(1);
}

// ProcessEvents: let pending window events be processed.
RtResult ProcessEvents(Args &a) {
    Ui(a).ProcessEvents();
    return ResultOfNothing();
}

} // namespace

void AddMessageCommands(CommandTable &table) {
    table.add(cmd::MessageBox, MessageBox);
    table.add(cmd::ProcessEvents, ProcessEvents);
}

void AddWindowCommands(CommandTable &table) {
    table.add(cmd::ComboCount, ComboCount);
    table.add(cmd::ComboItem, ComboItem);
    table.add(cmd::ComboAppend, ComboAppend);
    table.add(cmd::ComboClear, ComboClear);
    table.add(cmd::EndProgram, EndProgram);
    table.add(cmd::ListAppendRow, ListAppend);
    table.add(cmd::ListClear, ListClear);
    table.add(cmd::ListSetCell, ListSetCell);
    table.add(cmd::StartThread, StartThread);
    table.add(cmd::OpenUrl, OpenUrl);
}

} // namespace rt
