#include "report_frontend.h"

#include <mutex>
#include <string>
#include <vector>


namespace rt {

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t n = Utf8CharLength(utf8.substr(i));
        bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (n == 0) { // a byte that is not text: the replacement character keeps the document UTF-8
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F || c1) { // no control character reaches a log that shows the document
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", c1 ? static_cast<unsigned char>(utf8[i + 1]) : c);
                out += hex;
            } else {
                out.append(utf8.substr(i, n));
            }
        }
        i += n;
    }
    return out + "\"";
}

namespace {

class Report final : public ReportFrontEnd {
  public:
    Report(ReportOptions options, form::Form form) : options_(std::move(options)), form_(std::move(form)) {
        for (const form::Control &c : form_.controls) model().Add(c.id, c.type, int(c.columns.size()));
        model().SetListener([this](uint32_t unit, ControlModel::Change change) {
            if (unit == options_.resultList && change == ControlModel::Change::Rows) PrintCompletedRows(false);
        });
    }

    // A message keeps its place among the rows: one shown while a row is being filled follows that
    // row, so the trace's closing message comes after the last hop on a terminal that shows both.
    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view>) override {
        std::lock_guard lock(printMutex_);
        held_.push_back({model().RowCount(options_.resultList), GbkToUtf8(text)});
        PrintHeldMessages();
    }
    void OpenUrl(std::string_view url) override { std::fprintf(options_.err, "%s\n", GbkToUtf8(url).c_str()); }
    void SetMessagePresenter(MessagePresenter) override {}
    void SetUrlOpener(std::function<void(const std::string &)>) override {}
    void Pump() override {}
    void RequestQuit() override { Runtime::Instance().Exit(kReportNotReached); }

    // The start routine shows the window: its created event, the target and size put into their
    // boxes as a person would type them, then the start button's event.
    void ShowWindow(uint32_t window) override {
        if (window != form_.windowId) return;
        Call(form_.Handler(form_.window.id, form::kEventCreated));
        model().SetText(options_.targetBox, Utf8ToGbk(options_.target));
        if (options_.size) model().SetText(options_.sizeBox, Utf8ToGbk(*options_.size));
        Call(form_.Handler(options_.startButton, form::kEventClicked));
        started_ = true;
    }

    // Waits for the trace to end, prints what is left, and ends the program with the report's code.
    void RunEvents() override {
        if (started_) Runtime::Instance().WaitForThreads(); // the trace ends with its thread
        PrintCompletedRows(true);
        int32_t code = ExitCode();
        if (options_.json) PrintJson();
        std::fflush(options_.out);
        Runtime::Instance().Exit(code);
    }

  private:
    void Call(std::optional<uint32_t> handler) {
        if (!handler) return;
        if (void *routine = options_.routineAt(*handler)) reinterpret_cast<void (*)()>(routine)();
    }

    std::string CellText(int32_t row, int32_t column) {
        return GbkToUtf8(model().Cell(options_.resultList, row, column));
    }
    // A place read from a file could hold tabs, line breaks or escape sequences: in a row, written to
    // a terminal, a file or a pipe alike, they are escaped and can forge no row.
    std::string RowField(int32_t row, int32_t column) { return EscapeControls(CellText(row, column)); }

    // A row is complete once the next one is appended, or the trace has ended.
    void PrintCompletedRows(bool all) {
        std::lock_guard lock(printMutex_);
        int32_t rows = model().RowCount(options_.resultList);
        if (rows < printed_) { // the list was cleared for a new trace: what was held belongs before it
            printed_ = 0;
            for (HeldMessage &m : held_) m.afterRows = 0;
            PrintHeldMessages();
        }
        int32_t complete = all ? rows : rows - 1;
        while (printed_ < complete) {
            if (!options_.json) {
                std::fprintf(options_.out, "%s\t%s\t%s\t%s\n", RowField(printed_, 0).c_str(),
                             RowField(printed_, 1).c_str(), RowField(printed_, 2).c_str(), RowField(printed_, 3).c_str());
                std::fflush(options_.out);
            }
            ++printed_;
            PrintHeldMessages();
        }
    }

    // Under printMutex_: the held messages whose rows have all been printed.
    void PrintHeldMessages() {
        size_t n = 0;
        for (; n < held_.size() && held_[n].afterRows <= printed_; ++n) {
            std::fprintf(options_.err, "%s\n", held_[n].text.c_str());
            std::fflush(options_.err);
        }
        held_.erase(held_.begin(), held_.begin() + ptrdiff_t(n));
    }

    // Reached: the last hop answered from the traced address. No hop at all: nothing could be sent.
    int32_t ExitCode() {
        int32_t rows = model().RowCount(options_.resultList);
        if (rows == 0) return kReportNoTrace;
        std::string address = model().Text(options_.addressBox);
        return !address.empty() && model().Cell(options_.resultList, rows - 1, 1) == address ? kReportReached
                                                                                                : kReportNotReached;
    }

    void PrintJson() {
        std::string out = "{\"target\": " + JsonString(options_.target) +
                          ", \"address\": " + JsonString(GbkToUtf8(model().Text(options_.addressBox))) + ", \"hops\": [";
        int32_t rows = model().RowCount(options_.resultList);
        for (int32_t r = 0; r < rows; ++r) {
            std::string hop = CellText(r, 0);
            bool number = !hop.empty() && hop.find_first_not_of("0123456789") == std::string::npos;
            out += std::string(r ? ", " : "") + "{\"hop\": " + (number ? hop : JsonString(hop)) +
                   ", \"address\": " + JsonString(CellText(r, 1)) + ", \"place\": " + JsonString(CellText(r, 2)) +
                   ", \"time\": " + JsonString(CellText(r, 3)) + "}";
        }
        out += "]}\n";
        std::fputs(out.c_str(), options_.out);
    }

    ReportOptions options_;
    form::Form form_;
    bool started_ = false;
    std::mutex printMutex_;
    int32_t printed_ = 0;
    struct HeldMessage {
        int32_t afterRows; // the rows there were when it was shown
        std::string text;
    };
    std::vector<HeldMessage> held_;
};

} // namespace

ReportFrontEnd::~ReportFrontEnd() = default;

FrontEndResult<ReportFrontEnd> ReportFrontEnd::Create(ReportOptions options) {
    auto form = DecodeWindowForm(options.form, options.codeSize);
    if (!form) return form.error();
    return std::unique_ptr<ReportFrontEnd>(std::make_unique<Report>(std::move(options), std::move(*form)));
}

} // namespace rt
