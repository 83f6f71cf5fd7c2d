// The namespace network of the report tests, and a report run in its client:
// client 192.0.2.1 -> r1 192.0.2.2 -> r2 198.51.100.2 -> r3 198.51.100.6 -> target 203.0.113.2.
// The program runs from a folder of its own, with a place database naming the network one place.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "netns/namespace.h"
#include "program_folder.h"
#include "temp_dir.h"

namespace rt::testing {

struct Outcome {
    int code = -1;
    std::string out, err;
};

// The lines of a report's output, each split into its fields at `separator` (a line that ends in
// one has an empty last field).
inline std::vector<std::vector<std::string>> Fields(const std::string &out, char separator) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, separator);) fields.push_back(f);
        if (!line.empty() && line.back() == separator) fields.push_back("");
        rows.push_back(fields);
    }
    return rows;
}

class ReportNetwork : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        prefix_ = "rtr" + std::to_string(::getpid());
        skip_ = SuiteNetworkUp(prefix_);
        up_ = skip_.empty();
    }
    static void TearDownTestSuite() {
        if (up_) Topology("down " + prefix_);
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        InstallProgram(folder_, PRODUCT, "TEST-NET", "report");
    }
    void TearDown() override {
        for (const std::string &step : undo_) Topology(step);
    }
    // A change of the network for this test alone.
    void Change(const std::string &what, const std::string &node, const std::string &undo) {
        Topology(what + " " + prefix_ + " " + node);
        if (!undo.empty()) undo_.push_back(undo + " " + prefix_ + " " + node);
    }

    std::vector<std::string> Command(const std::string &args) {
        std::vector<std::string> argv = {"ip", "netns", "exec", prefix_ + "-client"};
        argv.insert(argv.end(), as_.begin(), as_.end());
        for (const char *word : {"env", "-u", "DISPLAY", "-u", "QT_QPA_PLATFORM"}) argv.push_back(word);
        argv.push_back(folder_.file("routetrace"));
        std::istringstream words(args);
        for (std::string w; words >> w;) argv.push_back(w);
        return argv;
    }

    // Runs a report in the client's namespace, from the program's folder; with `until`, sends the
    // signal once what the program printed so far (standard output and error) satisfies it.
    Outcome Report(const std::string &args,
                   std::function<bool(const std::string &out, const std::string &err)> until = {},
                   int signal = SIGINT) {
        int out[2], err[2];
        if (::pipe(out) || ::pipe(err)) return {};
        std::vector<std::string> argv = Command(args);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::close(out[0]);
            ::close(err[0]);
            if (::chdir(folder_.path().c_str()) != 0) ::_exit(127);
            std::vector<char *> raw;
            for (std::string &a : argv) raw.push_back(a.data());
            raw.push_back(nullptr);
            ::execvp("ip", raw.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        Outcome r;
        bool signalled = false;
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        int open = 2;
        while (open > 0) {
            ::poll(fds, 2, -1);
            for (pollfd &f : fds) {
                if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP))) continue;
                char buf[4096];
                ssize_t n = ::read(f.fd, buf, sizeof buf);
                if (n <= 0) {
                    ::close(f.fd);
                    f.fd = -1;
                    --open;
                    continue;
                }
                (f.fd == out[0] ? r.out : r.err).append(buf, size_t(n));
            }
            if (until && !signalled && until(r.out, r.err)) {
                ::kill(pid, signal); // `ip netns exec` has become the program itself
                signalled = true;
            }
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return r;
    }

    static std::vector<std::string> Lines(const std::string &text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // A time cell by its form only.
    static bool TimeForm(const std::string &time) {
        return time == "<10 ms" || time == "*" || std::regex_match(time, std::regex("[0-9]+ms"));
    }

    static QJsonObject Document(const std::string &out) {
        QJsonParseError error;
        QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << out;
        EXPECT_TRUE(doc.isObject()) << out;
        return doc.object();
    }

    static std::string Text(const QJsonValue &v) { return v.toString().toStdString(); }

    static inline std::string skip_, prefix_;
    static inline bool up_ = false;
    TempDir folder_;
    std::vector<std::string> undo_;
    std::vector<std::string> as_; // the words that run the program as another user
};

} // namespace rt::testing
