// The real window on Qt's offscreen platform, built from the real form description, with the
// application's handlers (compiled for the host) bound where the image builder would put them.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeWidget>

#include <chrono>
#include <cstring>
#include <thread>

#include "host_fixture.h"
#include "app/commands.h"
#include "runtime/frontends/qt/qt_frontend.h"
#include "temp_dir.h"
#include "formats/form/form_encoder.h"
#include "app/window/ui.h"

namespace rt::testing {

// The application's handlers by symbol, as the host test binaries bind them: the form's handler
// fields hold a handler's number in these tables instead of a code offset.
inline const std::vector<std::string> kHandlers = {"RtWindowHandler", "StartClicked", "ClearClicked",
                                                   "PicturePressed", "AboutSelected", "ExitSelected"};
inline const std::vector<void *> kRoutines = {
    reinterpret_cast<void *>(&RtWindowHandler), reinterpret_cast<void *>(&StartClicked),
    reinterpret_cast<void *>(&ClearClicked),    reinterpret_cast<void *>(&PicturePressed),
    reinterpret_cast<void *>(&AboutSelected),   reinterpret_cast<void *>(&ExitSelected)};

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string error;
        auto encoded = form::Encode(form::MainWindow(EMBLEM_SMALL, EMBLEM_LARGE), error);
        ASSERT_TRUE(encoded) << error;
        formBytes_ = encoded->bytes;
        // Each handler symbol gets a number; the "code offset" in the form is that number.
        for (const auto &[site, symbol] : encoded->handlerSites) {
            uint32_t index = uint32_t(std::find(kHandlers.begin(), kHandlers.end(), symbol) - kHandlers.begin());
            ASSERT_LT(index, kHandlers.size()) << symbol;
            std::memcpy(formBytes_.data() + site, &index, 4);
        }
        QtFrontEndOptions options;
        options.form = formBytes_;
        options.codeSize = uint32_t(kHandlers.size());
        options.routineAt = [](uint32_t i) { return i < kRoutines.size() ? kRoutines[i] : nullptr; };
        auto fe = QtFrontEnd::Create(options, error);
        ASSERT_TRUE(fe) << error;
        window_ = fe.get();
        window_->SetUrlOpener([this](const std::string &url) { urls_.push_back(url); });
        window_->SetMessagePresenter([this](const std::string &text, const std::string &title) {
            messages_.push_back({text, title});
        });
        rt::Runtime::Instance().SetProgramFolder(folder_.path().string());
        rt::Runtime::Instance().SetFrontEnd(std::move(fe));
        window_->ShowWindow(0x52010001);
    }
    void TearDown() override {
        rt::Runtime::Instance().SetFrontEnd(rt::MakeConsoleFrontEnd());
        rt::Runtime::Instance().SetProgramFolder("");
    }

    template <typename W> W *Control(uint32_t id) { return qobject_cast<W *>(window_->control(id)); }

    // Runs the window's events until the condition holds (or a few seconds pass).
    template <typename F> bool PumpUntil(F condition, int milliseconds = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    QComboBox *TargetBox() { return Control<QComboBox>(0x1601000f); }
    QStringList TargetItems() {
        QStringList items;
        for (int i = 0; i < TargetBox()->count(); ++i) items << TargetBox()->itemText(i);
        return items;
    }

    TempDir folder_;
    std::vector<uint8_t> formBytes_;
    QtFrontEnd *window_ = nullptr;
    std::vector<std::string> urls_;
    std::vector<std::pair<std::string, std::string>> messages_;
};

} // namespace rt::testing
