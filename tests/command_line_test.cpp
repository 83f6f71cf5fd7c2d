// The command line in GNU order (getopt_long): the report's options and its target in any order,
// with or without POSIXLY_CORRECT, on Linux and under wine (mingw-w64's getopt_long).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "product/command_line.h"

namespace {

struct Parsed {
    product::Request request;
    std::string out, err;
};

std::string ReadBack(FILE *f) {
    std::string text;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) text += char(c);
    std::fclose(f);
    return text;
}

Parsed Parse(const std::vector<std::string> &args) {
    FILE *out = std::tmpfile(), *err = std::tmpfile();
    Parsed p;
    p.request = product::ParseCommandLine(args, out, err);
    p.out = ReadBack(out);
    p.err = ReadBack(err);
    return p;
}

void SetPosixlyCorrect(bool on) {
#ifdef _WIN32
    _putenv_s("POSIXLY_CORRECT", on ? "1" : "");
#else
    if (on) ::setenv("POSIXLY_CORRECT", "1", 1);
    else ::unsetenv("POSIXLY_CORRECT");
#endif
}

TEST(ReportCommandLine, OptionsAndTheTargetComeInAnyOrderWhateverPosixlyCorrectSays) {
    const struct {
        std::vector<std::string> args;
        const char *target;
        int maxHops;
        bool json;
    } cases[] = {
        {{"--report", "-n", "target.test"}, "target.test", 30, false},
        {{"--report", "-m", "3", "target.test"}, "target.test", 3, false},
        {{"--report", "--json", "-m", "2", "target.test"}, "target.test", 2, true},
        {{"target.test", "--report", "-m2"}, "target.test", 2, false},
        {{"-nm", "4", "--report", "target.test"}, "target.test", 4, false},
        {{"--report=target.test", "--json"}, "target.test", 30, true},
        {{"--report", "--", "-odd.test"}, "-odd.test", 30, false},
        {{"--report", "-m", "5", "--", "-"}, "-", 5, false},
        {{"--report=-odd.test"}, "-odd.test", 30, false},
        {{"--report", "-w", "--", "x"}, nullptr, 0, false}, // "--" is -w's value, and no number of seconds
    };
    for (bool posixlyCorrect : {false, true}) {
        SetPosixlyCorrect(posixlyCorrect);
        for (const auto &c : cases) {
            Parsed p = Parse(c.args);
            std::string words;
            for (const std::string &a : c.args) words += a + " ";
            SCOPED_TRACE(words + (posixlyCorrect ? "(POSIXLY_CORRECT)" : ""));
            if (!c.target) {
                EXPECT_EQ(p.request.exitNow, 2);
                EXPECT_EQ(p.err.rfind("routetrace: -w takes seconds from 0.1 to 10, not \"--\"\n", 0), 0u) << p.err;
                continue;
            }
            ASSERT_TRUE(p.request.report) << p.err;
            EXPECT_EQ(p.err, "");
            EXPECT_EQ(p.request.report->target, c.target);
            EXPECT_EQ(p.request.report->maxHops, c.maxHops);
            EXPECT_EQ(p.request.report->json, c.json);
        }
    }
    SetPosixlyCorrect(false);
}

TEST(ReportCommandLine, AbbreviationsSecondTargetsAndMissingValuesEndWithTwo) {
    const struct {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"--report", "t", "--max", "3"}, "unexpected argument \"--max\""},
        {{"--report", "t", "--max-hop=3"}, "unexpected argument \"--max-hop=3\""},
        {{"--report", "t", "--rec"}, "unexpected argument \"--rec\""},
        {{"--report", "t", "--re"}, "unexpected argument \"--re\""}, // --report or --record
        {{"--report", "a", "b"}, "unexpected argument \"b\""},
        {{"--report=a", "b"}, "unexpected argument \"b\""},
        {{"--report", "a", "--", "b"}, "unexpected argument \"b\""},
        {{"--report", "t", "-x"}, "unexpected argument \"-x\""},
        {{"--report", "t", "-nx"}, "unexpected argument \"-nx\""},
        {{"--report", "t", "--record=yes"}, "unexpected argument \"--record=yes\""},
        {{"-m", "3", "--report"}, "--report needs a value"},
        {{"-m", "3", "--watch"}, "--watch needs a value"},
        {{"--report", "t", "--max-hops"}, "--max-hops needs a value"},
        {{"--report", "t", "-nw"}, "-w needs a value"},
        {{"--report", "t", "--size=9"}, "--size takes a whole number from 32 to 128, not \"9\""},
        {{"--report", "t", "-q3"}, "-q 3: one probe per hop is all this program sends"},
    };
    for (const auto &c : cases) {
        Parsed p = Parse(c.args);
        EXPECT_EQ(p.request.exitNow, 2) << c.message;
        EXPECT_FALSE(p.request.report) << c.message;
        EXPECT_EQ(p.err.rfind(std::string("routetrace: ") + c.message + "\nusage: routetrace", 0), 0u) << p.err;
    }
}

// --watch is a report over rounds shown as they run: until its user stops it, unless -c says how many.
TEST(ReportCommandLine, WatchRunsRoundsUntilStoppedUnlessCounted) {
    const struct {
        std::vector<std::string> args;
        bool watch;
        uint32_t cycles, intervalMs;
    } cases[] = {
        {{"--watch", "target.test"}, true, 0, 1000},
        {{"target.test", "-i", "0.5", "--watch"}, true, 0, 500},
        {{"--watch=target.test", "-c", "5"}, true, 5, 1000},
        {{"--report", "target.test"}, false, 1, 1000},
    };
    for (const auto &c : cases) {
        Parsed p = Parse(c.args);
        SCOPED_TRACE(c.args[0]);
        ASSERT_TRUE(p.request.report) << p.err;
        EXPECT_EQ(p.request.report->target, "target.test");
        EXPECT_EQ(p.request.watch, c.watch);
        EXPECT_EQ(p.request.report->cycles, c.cycles);
        EXPECT_EQ(p.request.report->intervalMs, c.intervalMs);
    }
}

// --help names only what the system it runs on has: on Windows no terminal window and no signals.
TEST(ReportCommandLine, HelpSpeaksOfWhatThisSystemHas) {
    Parsed p = Parse({"--help"});
    EXPECT_EQ(p.request.exitNow, 0);
#ifdef _WIN32
    for (const char *word : {"terminal", "SIGINT", "SIGTERM", "143", "display"})
        EXPECT_EQ(p.out.find(word), std::string::npos) << word << " in:\n" << p.out;
    EXPECT_NE(p.out.find("130 interrupted (Ctrl-C)"), std::string::npos) << p.out;
#else
    EXPECT_NE(p.out.find("130/143 interrupted (SIGINT/SIGTERM)"), std::string::npos) << p.out;
    EXPECT_NE(p.out.find("the terminal window"), std::string::npos) << p.out;
#endif
}

} // namespace
