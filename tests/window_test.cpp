// The window as the form describes it, on Qt's offscreen platform.
#include <QMouseEvent>
#include <QTimer>

#include "app/trace/trace.h"
#include "window_fixture.h"

using namespace rt::testing;

namespace {
QString U(const char *utf8) { return QString::fromUtf8(utf8); }
} // namespace

TEST_F(WindowFixture, EveryControlHasItsGeometryParentTextAndKind) {
    form::Form f = MainWindowDescription();
    QWidget *client = window_->mainWindow()->centralWidget();
    ASSERT_EQ(f.controls.size(), 18u);
    for (const form::Control &u : f.controls) {
        SCOPED_TRACE(rt::GbkToUtf8(u.name));
        QWidget *w = window_->control(u.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), QRect(u.left, u.top, u.width, u.height));
        EXPECT_EQ(w->parentWidget(), u.parent ? window_->control(u.parent) : client);
        EXPECT_TRUE(w->isVisible());
        QString caption = QString::fromStdString(rt::GbkToUtf8(u.caption));
        switch (u.type) {
        case form::kGroupBox: EXPECT_EQ(qobject_cast<QGroupBox *>(w)->title(), caption); break;
        case form::kLabel: EXPECT_EQ(qobject_cast<QLabel *>(w)->text(), caption); break;
        case form::kButton: EXPECT_EQ(qobject_cast<QPushButton *>(w)->text(), caption); break;
        case form::kCheckBox: EXPECT_EQ(qobject_cast<QCheckBox *>(w)->text(), caption); break;
        case form::kEditBox: EXPECT_TRUE(qobject_cast<QLineEdit *>(w)->text().isEmpty()); break;
        case form::kComboBox: EXPECT_TRUE(qobject_cast<QComboBox *>(w)->isEditable()); break;
        case form::kListView: EXPECT_NE(qobject_cast<QTreeWidget *>(w), nullptr); break;
        case form::kPicture: EXPECT_FALSE(qobject_cast<QLabel *>(w)->pixmap().isNull()); break;
        }
    }
    EXPECT_EQ(Control<QGroupBox>(unit_id::Id_GroupBox1)->title(), U("目标"));
    EXPECT_EQ(Control<QGroupBox>(unit_id::Id_GroupBox2)->title(), U("目标"));
    EXPECT_EQ(Control<QLabel>(unit_id::Id_Label6)->text(), U("留空或数值＞32将归0")) << "the full-width sign";
}

TEST_F(WindowFixture, TheWindowItsCaptionSizeAndIcon) {
    QMainWindow *w = window_->mainWindow();
    EXPECT_EQ(w->windowTitle(), U("Toviq-路由追踪 https://toviq.example/"));
    EXPECT_EQ(w->frameGeometry().size(), QSize(600, 800));
    EXPECT_FALSE(w->windowIcon().isNull());
    EXPECT_EQ(w->windowIcon().availableSizes().value(0), QSize(32, 32));
    QRect lowest = Control<QLabel>(unit_id::Id_Picture)->geometry();
    EXPECT_EQ(lowest.bottom() + 1, 740) << "the picture ends 740 pixels below the client area's top";
}

TEST_F(WindowFixture, TheListHasFourColumnsOf565Pixels) {
    QTreeWidget *list = Control<QTreeWidget>(unit_id::Id_ResultList);
    ASSERT_EQ(list->columnCount(), 4);
    const char *captions[] = {"序号", "经过IP地址", "位置", "响应时间"};
    const int widths[] = {45, 110, 340, 70};
    int total = 0;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list->headerItem()->text(i), U(captions[i]));
        EXPECT_EQ(list->columnWidth(i), widths[i]);
        total += list->columnWidth(i);
    }
    EXPECT_EQ(total, 565);
    EXPECT_EQ(list->topLevelItemCount(), 0) << "the window starts with no rows";
}

TEST_F(WindowFixture, TheMenuHasAboutWithItsThreeItems) {
    QList<QAction *> bar = window_->mainWindow()->menuBar()->actions();
    ASSERT_EQ(bar.size(), 1);
    EXPECT_EQ(bar[0]->text(), U("关于"));
    QList<QAction *> items = bar[0]->menu()->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), U("关于Toviq"));
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), U("退出"));
}

TEST_F(WindowFixture, ThePictureAndAboutOpenTheSameAddress) {
    QLabel *picture = Control<QLabel>(unit_id::Id_Picture);
    EXPECT_EQ(picture->cursor().shape(), Qt::PointingHandCursor);
    for (QPointF at : {QPointF(1, 1), QPointF(25, 25), QPointF(49, 49)}) {
        QMouseEvent press(QEvent::MouseButtonPress, at, picture->mapToGlobal(at), Qt::RightButton, Qt::RightButton,
                          Qt::NoModifier);
        QApplication::sendEvent(picture, &press);
    }
    window_->mainWindow()->menuBar()->actions()[0]->menu()->actions()[0]->trigger();
    window_->mainWindow()->menuBar()->actions()[0]->menu()->actions()[1]->trigger(); // the separator raises nothing
    EXPECT_EQ(urls_, std::vector<std::string>(4, "https://toviq.example/"));
}

TEST_F(WindowFixture, ExitEndsTheEventLoop) {
    QTimer::singleShot(50, [this] { window_->mainWindow()->menuBar()->actions()[0]->menu()->actions()[2]->trigger(); });
    window_->RunEvents(); // returns once "退出" is chosen
    SUCCEED();
}

TEST_F(WindowFixture, TheTraceThreadReachesTheControlsThroughTheWindowsThread) {
    std::thread trace([] {
        RtSetProperty(unit_id::Id_MainWindow, unit_id::Id_AddressBox, RtPropertyEditText, -1,
                      (uint64_t)(uintptr_t) "203.0.113.2");
        int32_t row = ResultInt(
            CallUnchecked(cmd::ListAppendRow,
                          ArgUnit(UnitRef{unit_id::Id_MainWindow, unit_id::Id_ResultList, unit_type::kListView})));
        CallUnchecked(cmd::ListSetCell,
                      ArgUnit(UnitRef{unit_id::Id_MainWindow, unit_id::Id_ResultList, unit_type::kListView}),
                      ArgInt(row), ArgInt(2), ArgText("\xD6\xD0\xB9\xFA"));
        ShowMessage("\xC2\xB7\xD3\xC9\xD7\xB7\xD7\xD9\xBD\xE1\xCA\xF8", nullptr); // 路由追踪结束
        ProcessEvents();                                                          // from the trace thread: harmless
    });
    EXPECT_TRUE(PumpUntil([&] { return !messages_.empty(); }));
    trace.join();
    EXPECT_EQ(Control<QLineEdit>(unit_id::Id_AddressBox)->text(), U("203.0.113.2"));
    QTreeWidget *list = Control<QTreeWidget>(unit_id::Id_ResultList);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(2), U("中国"));
    EXPECT_EQ(messages_[0].first, "路由追踪结束");
    EXPECT_EQ(messages_[0].second, "Toviq-路由追踪 https://toviq.example/") << "no title: the window's caption";
}

TEST_F(WindowFixture, BadCellsAndItemsEndInTheErrorService) {
    UnitRef list{unit_id::Id_MainWindow, unit_id::Id_ResultList, unit_type::kListView};
    EXPECT_EXIT(CallUnchecked(cmd::ListSetCell, ArgUnit(list), ArgInt(0), ArgInt(0), ArgText("x")),
                ::testing::ExitedWithCode(1), "Runtime error 1:");
    EXPECT_EXIT(CallUnchecked(cmd::ComboItem,
                              ArgUnit(UnitRef{unit_id::Id_MainWindow, unit_id::Id_TargetBox, unit_type::kComboBox}),
                              ArgInt(0)),
                ::testing::ExitedWithCode(1), "Runtime error 1:");
    EXPECT_EXIT(CallUnchecked(cmd::ListAppendRow, ArgInt(5)), ::testing::ExitedWithCode(1), "is not a unit");
}

TEST_F(WindowFixture, ResponseTimeTextsAndTheHopNumberOfARow) {
    QTreeWidget *list = Control<QTreeWidget>(unit_id::Id_ResultList);
    const std::pair<int32_t, const char *> cases[] = {{0, "<10 ms"},    {9, "<10 ms"}, {10, "10ms"},
                                                      {1200, "1200ms"}, {1201, "*"},   {2000, "*"}};
    for (auto [ms, text] : cases) {
        *CurrentRowCell() = ResultInt(
            CallUnchecked(cmd::ListAppendRow,
                          ArgUnit(UnitRef{unit_id::Id_MainWindow, unit_id::Id_ResultList, unit_type::kListView})));
        FillHopRow(7, ms, "198.51.100.2");
        QTreeWidgetItem *row = list->topLevelItem(*CurrentRowCell());
        EXPECT_EQ(row->text(3), U(text)) << ms << " ms";
        EXPECT_EQ(row->text(0), "7");
        EXPECT_EQ(row->text(1), "198.51.100.2");
    }
}
