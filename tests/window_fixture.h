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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "host_fixture.h"
#include "main_window_segment.h"
#include "app/commands.h"
#include "runtime/frontends/console_frontend.h"
#include "runtime/frontends/qt/qt_frontend.h"
#include "temp_dir.h"
#include "formats/form/form.h"
#include "formats/io/io.h"
#include "product/main_window_form.h"
#include "app/window/ui.h"

namespace rt::testing {

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOffscreenScreen();
        formBytes_ = MainWindowSegment();
        FrontEndOptions options;
        options.form = formBytes_;
        options.codeSize = uint32_t(kHandlers.size());
        options.routineAt = [](uint32_t i) { return i < kRoutines.size() ? kRoutines[i] : nullptr; };
        auto created = QtFrontEnd::Create(options);
        ASSERT_TRUE(created) << Describe(created.error());
        std::unique_ptr<QtFrontEnd> fe = std::move(*created);
        window_ = fe.get();
        window_->SetUrlOpener([this](const std::string &url) { urls_.push_back(url); });
        window_->SetMessagePresenter([this](const std::string &text, const std::string &title) {
            messages_.push_back({text, title});
        });
        rt::Runtime::Instance().SetProgramFolder(folder_.path().string());
        rt::Runtime::Instance().SetFrontEnd(std::move(fe));
        window_->ShowWindow(unit_id::Id_MainWindow);
    }
    void TearDown() override {
        rt::Runtime::Instance().SetFrontEnd(rt::MakeConsoleFrontEnd());
        rt::Runtime::Instance().SetProgramFolder("");
    }

    // Qt's offscreen platform with one screen, by default 1600 x 1200 at 100 %, where the form fits;
    // RT_TEST_SCREEN ("WIDTHxHEIGHT@SCALE", in Qt's device-independent pixels) chooses another. The
    // platform reads it when the process's application object is made, in the first test.
    void UseOffscreenScreen() {
        int width = 1600, height = 1200;
        double scale = 1;
        if (const char *screen = std::getenv("RT_TEST_SCREEN"))
            std::sscanf(screen, "%dx%d@%lf", &width, &height, &scale);
        std::string config = folder_.file("offscreen.json");
        std::ofstream(config) << "{\"screens\": [{\"name\": \"test\", \"x\": 0, \"y\": 0, \"width\": " << width
                              << ", \"height\": " << height << ", \"logicalDpi\": 96, \"dpr\": " << scale << "}]}";
        ::setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
    }

    template <typename W> W *Control(uint32_t id) { return qobject_cast<W *>(window_->control(id)); }

    // Runs the window's events until the condition holds; false when it does not within the bound,
    // which is generous because a loaded machine may be slow and a met condition ends it at once.
    template <typename F> bool PumpUntil(F condition, int milliseconds = 20000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    QComboBox *TargetBox() { return Control<QComboBox>(unit_id::Id_TargetBox); }
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
