// What the front ends built from the form share: why one could not be made, what it is built from,
// and the scaffolding around the form (its controls in the model, its events' routines, the hooks).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "formats/form/form.h"
#include "formats/result.h"
#include "runtime/core/runtime.h"

namespace rt {

// Why a window front end could not be made.
enum class FrontEndError {
    InvalidForm, // the form segment is malformed (the detail lists its problems)
    NoTerminal,  // the terminal cannot be used
};
struct FrontEndFailure {
    FrontEndError code;
    std::string detail;
};
std::string Describe(const FrontEndFailure &f);
template <typename T> using FrontEndResult = Result<std::unique_ptr<T>, FrontEndFailure>;

// What a front end is built from: the placed image's form and the routines its events call, and
// what a terminal adds. The report adds its own (ReportOptions).
struct FrontEndOptions {
    std::span<const uint8_t> form; // the form segment's data; must outlive the front end
    uint32_t codeSize = 0;         // handlers must lie below it
    // The address of the routine at an offset of the code segment's data.
    std::function<void *(uint32_t offset)> routineAt;
    int inputFd = 0; // the terminal
    int outputFd = 1;
    std::string pictureLabel = "(*)"; // what stands for a picture, which a terminal cannot show (UTF-8)
    // The program's name (UTF-8), which the product gives: the system's name for the application,
    // the caption of a message shown before the window has its own, the report's messages.
    std::string programName = {};
};

// The window's form, decoded and checked (handlers below codeSize).
Result<form::Form, FrontEndFailure> DecodeWindowForm(std::span<const uint8_t> bytes, uint32_t codeSize);

// A front end built from the form: its controls are in the model from the start, its events call
// the image's routines. Its messages and web addresses may be taken instead of shown in a modal box
// and handed to the browser (tests take them so).
class FormFrontEnd : public FrontEnd {
  public:
    using MessagePresenter = std::function<void(const std::string &textUtf8, const std::string &titleUtf8)>;
    void SetMessagePresenter(MessagePresenter presenter) { presenter_ = std::move(presenter); }
    void SetUrlOpener(std::function<void(const std::string &urlUtf8)> opener) { opener_ = std::move(opener); }

  protected:
    FormFrontEnd(form::Form form, std::function<void *(uint32_t offset)> routineAt);

    // Runs a handler's routine; nothing where the form has no handler or the image no routine.
    void Call(std::optional<uint32_t> handler) const;
    // Runs a mouse press's routine, which takes the button and the position in the unit.
    void CallPressed(std::optional<uint32_t> handler, int32_t button, int32_t x, int32_t y) const;

    form::Form form_;
    MessagePresenter presenter_;
    std::function<void(const std::string &urlUtf8)> opener_;

  private:
    std::function<void *(uint32_t offset)> routineAt_;
};

// Create() of a front end: decodes and checks the form, then makes the Window (a Base) from it.
template <typename Base, typename Window, typename Options> FrontEndResult<Base> MakeFormFrontEnd(Options options) {
    auto form = DecodeWindowForm(options.form, options.codeSize);
    if (!form) return form.error();
    return std::unique_ptr<Base>(std::make_unique<Window>(std::move(options), std::move(*form)));
}

} // namespace rt
