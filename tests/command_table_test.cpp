// The command table is the one definition both sides use: the program's calls are checked against
// it when they are compiled; here the runtime's side is walked.
#include <cstdlib>

#include "host_fixture.h"
#include "contract/form_layout.h"

using namespace rt::testing;

namespace {

void NoWork() {}

// The triple of a sample argument of the kind a shape letter names.
RtTriple Sample(char letter, ByteSet bytes) {
    switch (shape::Lower(letter)) {
    case 't': return ArgText("/nonexistent/command-table-test");
    case 'b': return ArgBytes(bytes);
    case 'y': return ArgByte(1);
    case 'i':
    case 'n': return ArgInt(1);
    case 'l': return ArgLong(1);
    case 'd': return ArgDouble(1.0);
    case 'u': return ArgUnit(UnitRef{unit_id::Id_MainWindow, unit_id::Id_ResultList, unit_type::kListView});
    case 'r': return ArgRoutine(NoWork);
    default: return ArgOmitted();
    }
}

// Calls the command with every argument of its shape, then with those that may be left out left out.
// A runtime error that says an argument has the wrong kind or the command is unknown ends the
// process with 1; any other ending (a value the command refuses, the program's end) counts as decoded.
[[noreturn]] void CallWithItsShape(const CommandEntry &entry) {
    rt::Runtime::Instance().SetErrorHandler([](int32_t kind, const rt::ErrorSite &, const std::string &message) {
        bool shape = kind == RtErrorNotConvertible || kind == RtErrorBadArgument || kind == RtErrorUnknownCommand;
        if (shape) std::fprintf(stderr, "%s\n", message.c_str());
        std::_Exit(shape ? 1 : 0);
    });
    ByteSet bytes = MakeBytes("\x01\x02\x03\x04");
    for (bool optional : {true, false}) {
        std::vector<RtTriple> args;
        for (const char *c = entry.shape; *c; ++c)
            args.push_back(optional || !shape::IsUpper(*c) ? Sample(*c, bytes) : ArgOmitted());
        args.push_back(ArgOmitted());
        uint32_t count = uint32_t(args.size() - 1);
        if (entry.row == kLibRow_Core) RtCoreCommand(entry.number, count, args.data());
        else RtLibraryCommand(entry.row, entry.number, count, args.data());
    }
    std::_Exit(0);
}

} // namespace

TEST(CommandTable, EveryCommandIsRegisteredAndNothingElse) {
    const rt::CommandTable &table = rt::Runtime::Instance().commands();
    for (const CommandEntry &entry : kCommands) EXPECT_NE(table.find(entry.row, entry.number), nullptr) << entry.name;
    EXPECT_EQ(table.size(), std::size(kCommands));
}

TEST(CommandTable, TheRuntimeDecodesTheArgumentsOfEachShape) {
    for (const CommandEntry &entry : kCommands)
        EXPECT_EXIT(CallWithItsShape(entry), ::testing::ExitedWithCode(0), "")
            << entry.name << " \"" << entry.shape << "\"";
}
