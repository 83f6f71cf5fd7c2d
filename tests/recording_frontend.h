// A front end that records the messages shown, for tests that check what the user is told.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "runtime.h"

namespace rt::testing {

class RecordingFrontEnd : public rt::FrontEnd {
  public:
    struct Message {
        std::string text;  // GBK
        bool hasTitle;
        std::string title; // GBK
    };

    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({std::string(text), title.has_value(), std::string(title.value_or(""))});
    }
    uint64_t GetProperty(uint32_t, uint32_t, int32_t, int32_t) override { return 0; }
    void SetProperty(uint32_t, uint32_t, int32_t, int32_t, uint64_t) override {}
    void ShowWindow(uint32_t) override {}
    void RunEvents() override {}

    std::vector<Message> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    std::mutex mutex_;
    std::vector<Message> messages_;
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
