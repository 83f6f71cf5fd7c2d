#include "runtime.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "files.h"
#include "os.h"
#include "formats/io/io.h"

namespace rt {

std::atomic<Runtime *> Runtime::instance_{nullptr};

Runtime &Runtime::Create() {
    static Runtime *made = [] { // once, whichever thread asks first
        auto *runtime = new Runtime;
        instance_.store(runtime, std::memory_order_release);
        return runtime;
    }();
    return *made;
}

Runtime::Runtime() : files_(std::make_unique<FileTable>()) {
    AddTextCommands(commands_);
    AddNumberCommands(commands_);
    AddByteSetCommands(commands_);
    AddFileCommands(commands_);
    AddConfigCommands(commands_);
    AddMessageCommands(commands_);
    AddWindowCommands(commands_);
}

Runtime::~Runtime() = default;

void Runtime::SetFrontEnd(std::unique_ptr<FrontEnd> frontEnd) { frontEnd_ = std::move(frontEnd); }

FrontEnd &Runtime::NoFrontEnd() {
    std::fputs("The program used its window before its entry chose a front end.\n", stderr);
    std::fflush(nullptr);
    std::_Exit(1);
}

void Runtime::Fail(int32_t kind, const ErrorSite &site, std::string_view detail) {
    std::string message = DescribeError(kind, site, detail);
    if (errorHandler_) errorHandler_(kind, site, message);
    if (frontEnd_) {
        frontEnd_->ShowMessage(Utf8ToGbk(message), 0, std::string_view("Runtime error"));
        frontEnd_->Shutdown(); // a terminal is put back before the message is printed on it
    }
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(nullptr);
    std::_Exit(1);
}

RtResult Runtime::CoreCommand(uint32_t command, std::span<const RtTriple> triples) {
    Args args(*this, 0, command, triples);
    CommandFn fn = commands_.find(kLibRow_Core, command);
    if (!fn) args.fail(RtErrorUnknownCommand, "no such command");
    return fn(args);
}

RtResult Runtime::LibraryCommand(uint32_t row, uint32_t command, std::span<const RtTriple> triples) {
    Args args(*this, row, command, triples);
    CommandFn fn = commands_.find(row, command);
    if (!fn) args.fail(RtErrorUnknownCommand, "no such command in this library");
    return fn(args);
}

std::string Runtime::ProgramFolder() const {
    {
        std::lock_guard lock(folderMutex_);
        if (!programFolder_.empty()) return programFolder_;
    }
    std::string path = os::ExecutablePath();
    return path.empty() ? "." : io::FolderOf(path);
}

void Runtime::ThreadStarted() {
    std::lock_guard lock(threadsMutex_);
    ++threads_;
}

void Runtime::ThreadEnded() {
    std::lock_guard lock(threadsMutex_);
    --threads_;
    threadsEnded_.notify_all();
}

void Runtime::WaitForThreads() {
    std::unique_lock lock(threadsMutex_);
    threadsEnded_.wait(lock, [&] { return threads_ == 0; });
}

void Runtime::SetProgramFolder(std::string folder) {
    std::lock_guard lock(folderMutex_);
    programFolder_ = std::move(folder);
}

ProductNames Runtime::product() const {
    {
        std::lock_guard lock(folderMutex_);
        if (product_) return *product_;
    }
    std::string name = io::NameOf(os::ExecutablePath());
    constexpr std::string_view kWindowsProgram = ".exe";
    if (name.size() > kWindowsProgram.size() &&
        EqualsIgnoreCase(std::string_view(name).substr(name.size() - kWindowsProgram.size()), kWindowsProgram))
        name.resize(name.size() - kWindowsProgram.size());
    return {name, name};
}

void Runtime::SetProduct(ProductNames names) {
    std::lock_guard lock(folderMutex_);
    product_ = std::move(names);
}

void Runtime::HoldConfigurationWrites() {
    commands_.add(cmd::WriteConfigItem, [](Args &) { return ResultOfBool(false); });
}

void Runtime::Exit(int32_t code) {
    if (frontEnd_) frontEnd_->Shutdown();
    std::fflush(nullptr);
    // The trace thread may still be inside a probe; ending the process must not wait for it.
    std::_Exit(code);
}

} // namespace rt
