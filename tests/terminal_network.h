// A terminal (tmux) whose program runs in the namespace network's client, with a copy of the
// product in a folder of the test's own: the fixture of the tests of what the program draws there.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "netns/namespace.h"
#include "program_folder.h"
#include "shell.h"
#include "temp_dir.h"
#include "tmux_session.h"

namespace rt::testing {

class TerminalOnNetwork : public ::testing::Test {
  protected:
    // prefix: the start of the namespaces' names, so that two suites never share a network.
    explicit TerminalOnNetwork(std::string prefix) : prefix_(std::move(prefix) + std::to_string(::getpid())) {}

    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the namespace network needs root";
        if (Shell("command -v tmux").empty()) GTEST_SKIP() << "tmux is needed (scripts/setup installs it)";
        up_ = true; // what a failed start leaves is taken down too
        ASSERT_EQ(Topology("up " + prefix_), "");
        InstallProgram(folder_, PRODUCT, "\xB2\xE2\xCA\xD4\xCD\xF8", "tty"); // 测试网
        std::filesystem::create_directories(ARTIFACTS);
    }
    void TearDown() override {
        tmux_.reset();
        if (up_) Topology("down " + prefix_);
    }

    // Runs a shell command line in the client, in a terminal of that size.
    void RunInClient(const std::string &program, int columns, int rows) {
        tmux_ = std::make_unique<TmuxSession>(prefix_);
        tmux_->Start("ip netns exec " + prefix_ + "-client sh -c '" + program + "'", columns, rows);
    }
    std::string Screen() { return tmux_->Screen(); }
    // Keeps the screen as it is among the test's artifacts.
    void Keep(const std::string &name) { std::ofstream(std::string(ARTIFACTS) + "/" + name) << Screen(); }

    TempDir folder_;
    std::string prefix_;
    bool up_ = false;
    std::unique_ptr<TmuxSession> tmux_;
};

} // namespace rt::testing
