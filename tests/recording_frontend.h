// A front end that records the messages shown, for tests that check what the user is told.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/core/runtime.h"
#include "runtime/frontends/console_frontend.h"

namespace rt::testing {

// Keeps a model of every control the program names, as the console does, and records what the user
// would be shown.
class RecordingFrontEnd : public rt::FrontEnd {
  public:
    RecordingFrontEnd() : rt::FrontEnd(/*anyUnit=*/true) {}

    struct Message {
        std::string text; // GBK
        bool hasTitle;
        std::string title; // GBK
    };

    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({std::string(text), title.has_value(), std::string(title.value_or(""))});
    }
    void ShowWindow(uint32_t) override {}
    void RunEvents() override {}
    void OpenUrl(std::string_view url) override {
        std::lock_guard lock(mutex_);
        urls_.emplace_back(url);
    }

    std::vector<Message> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::string> urls() {
        std::lock_guard lock(mutex_);
        return urls_;
    }

  private:
    std::mutex mutex_;
    std::vector<Message> messages_;
    std::vector<std::string> urls_;
};

// Writes what an image's start routine asks of the window to standard error, for a death test to read.
class StartReportingFrontEnd : public RecordingFrontEnd {
  public:
    void ShowWindow(uint32_t window) override { std::fprintf(stderr, "ShowWindow 0x%X\n", window); }
    void RunEvents() override { std::fprintf(stderr, "RunEvents\n"); }
};

// Installs a recording front end for the scope and puts the console one back afterwards.
class ScopedRecorder {
  public:
    ScopedRecorder() {
        auto fe = std::make_unique<RecordingFrontEnd>();
        recorder_ = fe.get();
        rt::Runtime::Instance().SetFrontEnd(std::move(fe));
    }
    ~ScopedRecorder() { rt::Runtime::Instance().SetFrontEnd(rt::MakeConsoleFrontEnd()); }
    RecordingFrontEnd &operator*() { return *recorder_; }
    RecordingFrontEnd *operator->() { return recorder_; }

  private:
    RecordingFrontEnd *recorder_;
};

} // namespace rt::testing
