// The Qt window on a screen too small for the form, and its labels measured with the font they are
// drawn in. CMake runs these on a 1366 x 768 screen at 100 %, 150 % and 200 % (RT_TEST_SCREEN).
#include <QScreen>

#include "window_fixture.h"

using namespace rt::testing;

namespace {

// How many whole rows the list shows.
int VisibleRows(QTreeWidget *list) {
    auto *row = new QTreeWidgetItem(list, QStringList{"1"});
    int height = list->visualItemRect(row).height();
    delete row;
    return height > 0 ? list->viewport()->height() / height : 0;
}

} // namespace

TEST_F(WindowFixture, TheWindowLiesInsideTheScreenWithAtLeastFiveListRows) {
    QMainWindow *w = window_->mainWindow();
    QRect screen = w->screen()->availableGeometry();
    ASSERT_LT(screen.height(), 800) << "a screen the form does not fit";
    EXPECT_TRUE(screen.contains(w->frameGeometry())) << "the window lies inside the screen";
    EXPECT_EQ(w->frameGeometry().width(), 600) << "the form's width";
    QTreeWidget *list = Control<QTreeWidget>(unit_id::Id_ResultList);
    EXPECT_EQ(list->height(), 350 - (800 - w->frameGeometry().height())) << "the list gives up the missing height";
    EXPECT_GE(VisibleRows(list), 5);
    // The emblem moved up with the list and stays in the client area.
    QWidget *picture = Control<QLabel>(unit_id::Id_Picture);
    EXPECT_EQ(picture->y(), list->geometry().bottom() + 1 + 15);
    EXPECT_LE(picture->geometry().bottom(), w->centralWidget()->height());
}

TEST_F(WindowFixture, AResizedWindowsListFollowsItsHeightKeepingFiveRows) {
    QMainWindow *w = window_->mainWindow();
    QTreeWidget *list = Control<QTreeWidget>(unit_id::Id_ResultList);
    EXPECT_EQ(w->maximumWidth(), w->minimumWidth()) << "as wide as the form";
    EXPECT_LT(w->minimumHeight(), w->height()) << "it may be made shorter";
    int listBefore = list->height();
    w->resize(w->width(), w->height() - 50);
    EXPECT_EQ(list->height(), listBefore - 50);
    w->resize(w->width(), 1);
    EXPECT_EQ(w->height(), w->minimumHeight());
    EXPECT_GE(VisibleRows(list), 5) << "the shortest window still shows five rows";
    EXPECT_LT(VisibleRows(list), 7);
}

TEST_F(WindowFixture, EveryLabelShowsItsWholeTextWithTheFontItIsDrawnIn) {
    form::Form f = MainWindowDescription();
    for (const form::Control &c : f.controls) {
        if (c.type != form::kLabel) continue;
        auto *label = Control<QLabel>(c.id);
        SCOPED_TRACE(label->text().toStdString());
        QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width());
        EXPECT_LE(metrics.height(), label->contentsRect().height());
        EXPECT_GE(label->width(), c.width) << "never narrower than designed";
        // Nothing hides a part of it: it lies inside its parent, beside its neighbours.
        QWidget *parent = label->parentWidget();
        EXPECT_TRUE(parent->contentsRect().contains(label->geometry()));
        for (QWidget *other : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (other == label || !other->isVisible() || qobject_cast<QGroupBox *>(other)) continue;
            EXPECT_FALSE(other->geometry().intersects(label->geometry())) << other->metaObject()->className();
        }
    }
}
