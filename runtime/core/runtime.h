// The core runtime: memory, the error service, command dispatch, files, configuration items,
// and the front end that owns the window. One instance per process.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "contract/abi.h"
#include "contract/commands.h"
#include "formats/text/text.h"
#include "runtime/core/control_model.h"

namespace rt {

class Runtime;
class FileTable;

// What a runtime error names as its place: a subroutine of the image, or a runtime command.
struct ErrorSite {
    uint32_t subroutine = 0; // 0x0401xxxx for a subroutine, 0 when a command failed
    int32_t position = 0;    // position inside the subroutine
    uint32_t command = 0;    // the command number, when a command failed
    uint32_t library = 0;    // library row of that command, 0 for the core library
    bool dll = false;        // the command is a DLL command, by index
};

std::string_view DescribeErrorKind(int32_t kind);
std::string DescribeError(int32_t kind, const ErrorSite &site, std::string_view detail);

// The arguments of one command call, decoded on demand with their type words checked.
// A wrong type word or a negative count ends in the runtime error service.
class Args {
  public:
    Args(Runtime &runtime, uint32_t library, uint32_t command, std::span<const RtTriple> triples)
        : runtime_(runtime), library_(library), command_(command), triples_(triples) {}

    size_t size() const { return triples_.size(); }
    bool omitted(size_t i) const { return i >= triples_.size() || triples_[i].type == RtTypeOmitted; }
    uint32_t type(size_t i) const { return i < triples_.size() ? triples_[i].type : 0u; }
    uint64_t raw(size_t i) const {
        return i < triples_.size() ? (uint64_t(triples_[i].high) << 32) | triples_[i].low : 0;
    }

    // A text argument; omitted reads as the empty text.
    std::string_view text(size_t i) const {
        if (omitted(i)) return {};
        if (type(i) != RtTypeText) failNotConvertible(i, "a text");
        const char *p = reinterpret_cast<const char *>(static_cast<uintptr_t>(raw(i)));
        return p ? std::string_view(p) : std::string_view();
    }
    // A byte set argument; omitted reads as empty. A plain list of bytes, as the runtime makes them
    // all, is answered here.
    std::span<const uint8_t> bytes(size_t i) const {
        if (!omitted(i) && type(i) == RtTypeBytes) {
            const uint8_t *array = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(raw(i)));
            if (array && ArrayWord(array, 0) == 1) return {array + 8, ArrayWord(array, 1)};
        }
        return anyBytes(i);
    }
    // A numeric argument as an integer (floating values truncated toward zero); omitted gives fallback.
    // The program passes 32-bit integers and 64-bit positions nearly always: they are answered here,
    // inline (also where the commands are optimised at link time, which would otherwise call it).
    [[gnu::always_inline]] int64_t integer(size_t i, int64_t fallback = 0) const {
        if (i >= triples_.size() || triples_[i].type == RtTypeOmitted) return fallback;
        if (triples_[i].type == RtTypeInt) return int32_t(triples_[i].low);
        if (triples_[i].type == RtTypeLong) return int64_t(raw(i));
        return anyInteger(i, fallback);
    }
    // A numeric argument as a double; omitted gives fallback.
    double real(size_t i, double fallback = 0) const;
    // A count: an integer that must not be negative.
    [[gnu::always_inline]] int64_t count(size_t i, int64_t fallback = 0) const {
        int64_t n = integer(i, fallback);
        if (n < 0) failNegative(i, n);
        return n;
    }
    // A routine address argument.
    uintptr_t routine(size_t i) const;
    // A unit argument: window, unit and unit type identifiers in one triple.
    struct Unit {
        uint32_t window, unit, type;
    };
    Unit unit(size_t i) const;

    [[noreturn]] void fail(int32_t kind, std::string_view detail) const;
    Runtime &runtime() const { return runtime_; }

  private:
    // Byte sets in the image's constants are not aligned: their words are read byte-wise.
    static uint32_t ArrayWord(const uint8_t *array, uint32_t k) {
        uint32_t w;
        std::memcpy(&w, array + 4 * k, 4);
        return w;
    }
    std::span<const uint8_t> anyBytes(size_t i) const;
    int64_t anyInteger(size_t i, int64_t fallback) const;
    [[noreturn]] void failNotConvertible(size_t i, const char *what) const;
    [[noreturn]] void failNegative(size_t i, int64_t n) const;
    Runtime &runtime_;
    uint32_t library_;
    uint32_t command_;
    std::span<const RtTriple> triples_;
};

// Results built by commands. Texts, byte sets and arrays are new runtime blocks owned by the caller.
RtResult ResultOfText(std::string_view text);
RtResult ResultOfBytes(std::span<const uint8_t> bytes);
RtResult ResultOfTextArray(std::span<const std::string_view> texts);
inline RtResult ResultOfInt(int32_t v) { return RtResult{uint64_t(int64_t(v)), RtTypeInt}; }
inline RtResult ResultOfLong(int64_t v) { return RtResult{uint64_t(v), RtTypeLong}; }
inline RtResult ResultOfBool(bool v) { return RtResult{v ? 1u : 0u, RtTypeInt}; }
RtResult ResultOfDouble(double v);
inline RtResult ResultOfNothing() { return RtResult{0, 0}; }

using CommandFn = RtResult (*)(Args &args);

// The commands of the core library (row 0) and the support libraries, registered by their rows of
// the command table (contract/commands.def); nothing else can be registered.
class CommandTable {
  public:
    // Command numbers are multiples of four below this bound; a row for each library.
    static constexpr uint32_t kCommandLimit = 0x1000;
    static constexpr uint32_t kRows = kLibraryRows;

    // Whether a command's row and number have their place in the table.
    static constexpr bool Fits(const CommandEntry &entry) {
        return entry.row < kRows && entry.number % 4 == 0 && entry.number < kCommandLimit;
    }
    static constexpr bool AllFit() {
        for (const CommandEntry &entry : kCommands)
            if (!Fits(entry)) return false;
        return true;
    }

    // A command of the table, checked when the program is compiled: a row or number that has no
    // place is no constant expression.
    struct Entry {
        consteval Entry(const CommandEntry &entry) : row(entry.row), slot(entry.number / 4) {
            if (!Fits(entry)) throw "a command outside the command table";
        }
        uint32_t row;
        uint32_t slot;
    };

    void add(Entry entry, CommandFn fn) { rows_[entry.row][entry.slot] = fn; }
    CommandFn find(uint32_t row, uint32_t command) const {
        return (row < kRows && command % 4 == 0 && command < kCommandLimit) ? rows_[row][command / 4] : nullptr;
    }
    // How many commands are registered.
    size_t size() const {
        size_t n = 0;
        for (const auto &row : rows_)
            for (CommandFn fn : row) n += fn != nullptr;
        return n;
    }

  private:
    std::array<std::array<CommandFn, kCommandLimit / 4>, kRows> rows_{};
};
static_assert(CommandTable::AllFit(), "every command of commands.def has its place in the command table");

// The window side of the runtime: what only a front end can do. The state of the window's controls
// is the control model every front end keeps; the window commands and property services change it
// there, and the front end is told of each change through ControlChanged and shows it. The console
// front end serves programs and tests without a window; the others build the window from the form
// segment. Texts are GBK. Every operation may be called from any thread; a front end hands widget
// work to its own thread.
class FrontEnd {
  public:
    // With `anyUnit`, every unit the program names gets a control (a front end without a form);
    // otherwise the front end adds the form's controls to the model.
    explicit FrontEnd(bool anyUnit = false) : controls_(anyUnit) {
        controls_.SetListener([this](uint32_t unit, ControlModel::Change change) { ControlChanged(unit, change); });
    }
    virtual ~FrontEnd() = default;
    FrontEnd(const FrontEnd &) = delete;
    FrontEnd &operator=(const FrontEnd &) = delete;

    ControlModel &controls() { return controls_; }
    const ControlModel &controls() const { return controls_; }

    // Shows a message and returns when it is dismissed. No title: the runtime's default.
    virtual void ShowMessage(std::string_view text, int32_t style, std::optional<std::string_view> title) = 0;
    // Lets pending window events be processed; harmless from any thread.
    virtual void ProcessEvents() {}
    // Builds and shows a window; runs events until the program is to end.
    virtual void ShowWindow(uint32_t window) = 0;
    virtual void RunEvents() = 0;
    // Ends the event loop (the window's "exit" and command 0x360).
    virtual void RequestQuit() {}
    // Opens a web address in the system's browser (or shows it where there is none).
    virtual void OpenUrl(std::string_view url) = 0;
    // Puts the terminal or display back as it was; the process is about to end.
    virtual void Shutdown() {}

  protected:
    // A control's state changed in the model: called after the change, outside the model's lock, on
    // the thread that made it.
    virtual void ControlChanged(uint32_t, ControlModel::Change) {}

  private:
    ControlModel controls_;
};

// What the product calls itself and its folders, which only the product knows: the runtime's entry
// names them (Runtime::SetProduct); until then the running program's file name stands for both.
struct ProductNames {
    std::string name;   // the program's name, as its messages and its window give it
    std::string folder; // its folders' name in the user's and the system's folders (~/.config/NAME)
};

class Runtime {
  public:
    // The one runtime, made at its first use and never destroyed (the trace thread may outlive main).
    // Every command asks for it: inline, one load once it exists.
    static Runtime &Instance() {
        Runtime *made = instance_.load(std::memory_order_acquire);
        return made ? *made : Create();
    }

    Runtime();
    ~Runtime();

    // Memory blocks handed to the image: texts, arrays, records.
    static void *Allocate(size_t size);
    static void Free(void *block);
    // The size of a block that Allocate returned; 0 for anything else it can recognise.
    static size_t BlockSize(const void *block);

    // The runtime error service: reports and ends the program (or calls the installed handler).
    [[noreturn]] void Fail(int32_t kind, const ErrorSite &site, std::string_view detail = {});
    // Tests replace the default (message, then exit code 1). The handler must not return.
    using ErrorHandler = std::function<void(int32_t kind, const ErrorSite &site, const std::string &message)>;
    void SetErrorHandler(ErrorHandler handler) { errorHandler_ = std::move(handler); }

    RtResult CoreCommand(uint32_t command, std::span<const RtTriple> args);
    RtResult LibraryCommand(uint32_t row, uint32_t command, std::span<const RtTriple> args);

    const CommandTable &commands() const { return commands_; }
    // The front end the runtime's entry chose (the product's RuntimeEntry, or the direct host for
    // programs that run the application's routines themselves). Using it before one was chosen is a
    // fault of the entry: it ends the program with a message saying so.
    FrontEnd &frontEnd() { return frontEnd_ ? *frontEnd_ : NoFrontEnd(); }
    void SetFrontEnd(std::unique_ptr<FrontEnd> frontEnd);

    FileTable &files() { return *files_; }

    // The program's folder, without a trailing separator: the executable's folder unless set.
    std::string ProgramFolder() const;
    void SetProgramFolder(std::string folder);

    // The product's names, as its entry gave them, else the running program's file name for both.
    ProductNames product() const;
    void SetProduct(ProductNames names);

    // The routine the start routine registered (slot 0x30, selector 3).
    void SetStartRoutine(uintptr_t routine) { startRoutine_ = routine; }
    uintptr_t startRoutine() const { return startRoutine_; }

    // Ends the process with that code.
    [[noreturn]] void Exit(int32_t code);

    // From now on, writing a configuration item writes nothing and answers false: a run that must
    // leave the user's files as they are (a report without --record) still runs the program unchanged.
    void HoldConfigurationWrites();

    // The routines the program runs on threads of their own: counted as they start and return, so
    // that a front end without events (the report) can wait for them. Only the runtime, which lives
    // as long as the process, is touched by a returning thread.
    void ThreadStarted();
    void ThreadEnded();
    void WaitForThreads();

  private:
    static Runtime &Create();
    [[noreturn]] static FrontEnd &NoFrontEnd();
    static std::atomic<Runtime *> instance_;

    CommandTable commands_;
    std::unique_ptr<FrontEnd> frontEnd_;
    std::unique_ptr<FileTable> files_;
    ErrorHandler errorHandler_;
    mutable std::mutex folderMutex_;
    std::string programFolder_;
    std::optional<ProductNames> product_;
    uintptr_t startRoutine_ = 0;
    std::mutex threadsMutex_;
    std::condition_variable threadsEnded_;
    int threads_ = 0;
};

// Registration of the core commands, by area.
void AddTextCommands(CommandTable &table);
void AddNumberCommands(CommandTable &table);
void AddByteSetCommands(CommandTable &table);
void AddFileCommands(CommandTable &table);
void AddConfigCommands(CommandTable &table);
void AddMessageCommands(CommandTable &table);
void AddWindowCommands(CommandTable &table);

} // namespace rt
