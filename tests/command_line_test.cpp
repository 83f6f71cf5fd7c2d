// What the program's arguments ask for: the window, a report, or an answer and an exit code.
#include <gtest/gtest.h>

#include "product/command_line.h"

namespace {

enum class Asked { Window, Report, Exit0, Exit2 };

Asked Ask(const std::vector<std::string> &args) {
    product::Request r = product::ParseCommandLine(args);
    if (r.exitNow) return *r.exitNow == 0 ? Asked::Exit0 : Asked::Exit2;
    return r.report ? Asked::Report : Asked::Window;
}

} // namespace

TEST(CommandLine, OnlyTheReportReadsItsArgumentsAnythingElseOpensTheWindow) {
    const struct {
        std::vector<std::string> args;
        Asked asked;
    } cases[] = {
        {{}, Asked::Window},
        {{"C:\\Users\\me\\Desktop\\targets.txt"}, Asked::Window}, // a file dropped on the icon
        {{"--unknown", "-x"}, Asked::Window},
        {{"--json"}, Asked::Window},
        {{"--size", "64"}, Asked::Window},
        {{"--report", "a.example"}, Asked::Report},
        {{"--report", "a.example", "--size", "64", "--json"}, Asked::Report},
        {{"--json", "--report", "a.example"}, Asked::Report},
        {{"--report"}, Asked::Exit2},                                   // no target
        {{"--report", "a.example", "--unknown"}, Asked::Exit2},          // a report's arguments are checked
        {{"--report", "a.example", "--report", "b.example"}, Asked::Exit2},
        {{"--report", "a.example", "--size"}, Asked::Exit2},
        {{"--help"}, Asked::Exit0},
        {{"--version"}, Asked::Exit0},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const std::string &a : c.args) shown += a + " ";
        EXPECT_EQ(Ask(c.args), c.asked) << shown;
    }
    product::Request r = product::ParseCommandLine({"--size", "64", "--report", "a.example", "--json"});
    ASSERT_TRUE(r.report);
    EXPECT_EQ(r.report->target, "a.example");
    EXPECT_EQ(r.report->size, "64");
    EXPECT_TRUE(r.report->json);
}
