// The target history through the real handlers, the real window and the real file.
#include <QTimer>

#include "history_file.h"
#include "window_fixture.h"

using namespace rt::testing;

namespace {

void Type(QComboBox *box, const QString &text) { box->setEditText(text); }

} // namespace

TEST_F(WindowFixture, AFirstStartWithoutAFileCreatesNone) {
    EXPECT_TRUE(TargetItems().isEmpty());
    EXPECT_FALSE(folder_.exists("lsjl.ini"));
}

TEST_F(WindowFixture, RecordThenLoadGivesBackTheListEmptyAndRepeatedEntriesIncluded) {
    for (QString target : {"a.example", "", "a.example", "x y", "\xE4\xB8\xAD\xE6\x96\x87.example"}) {
        Type(TargetBox(), target);
        RecordHistory();
    }
    EXPECT_EQ(folder_.read("lsjl.ini"), HistoryFile("a.example||a.example|x y|\xD6\xD0\xCE\xC4.example|"));
    QStringList recorded = TargetItems();
    LoadHistory();
    EXPECT_EQ(TargetItems(), recorded);
    EXPECT_EQ(recorded, (QStringList{"a.example", "", "a.example", "x y", QString::fromUtf8("中文.example")}));
    EXPECT_EQ(TargetBox()->currentText(), QString::fromUtf8("中文.example")) << "loading leaves the edit field alone";
}

TEST_F(WindowFixture, EntriesThatAreNotGbkKeepTheirBytes) {
    const std::string file = HistoryFile("caf\xE9.example|\xFF\xFEodd|");
    folder_.write("lsjl.ini", file);
    LoadHistory();
    EXPECT_EQ(TargetItems().size(), 2) << "shown, however they render";
    Type(TargetBox(), "next.example");
    RecordHistory();
    EXPECT_EQ(folder_.read("lsjl.ini"), HistoryFile("caf\xE9.example|\xFF\xFEodd|next.example|"));
}

TEST_F(WindowFixture, ABarInsideAnEntrySplitsItAtTheNextLoad) {
    Type(TargetBox(), "p|q");
    RecordHistory();
    EXPECT_EQ(TargetItems(), QStringList{"p|q"});
    LoadHistory();
    EXPECT_EQ(TargetItems(), (QStringList{"p", "q"}));
}

TEST_F(WindowFixture, ClearWritesTheResetValueAndLoadsIt) {
    folder_.write("lsjl.ini", "[other]\r\nkeep=1\r\n" + HistoryFile("old|"));
    Type(TargetBox(), "typed");
    Control<QPushButton>(unit_id::Id_ClearButton)->click();
    EXPECT_EQ(folder_.read("lsjl.ini"), HistoryFile(K_InitialHistory))
        << "the file is deleted first, so nothing else survives";
    EXPECT_EQ(TargetItems(), QStringList{"toviq.example"});
    EXPECT_EQ(TargetBox()->currentText(), "typed");
}

TEST_F(WindowFixture, StartRecordsTheTargetStartsTheTraceAndDisablesTheButton) {
    QPushButton *start = Control<QPushButton>(unit_id::Id_StartButton);
    Type(TargetBox(), "");
    start->click();
    EXPECT_EQ(folder_.read("lsjl.ini"), HistoryFile("|")) << "an empty target is recorded";
    EXPECT_TRUE(PumpUntil([&] { return start->isEnabled(); })) << "the trace enables the button at its end";
    // Traced for real: the name is in the hosts file and the probe goes to loopback.
    Type(TargetBox(), "localhost");
    start->click();
    EXPECT_TRUE(PumpUntil([&] { return start->isEnabled(); }));
    Type(TargetBox(), "localhost");
    start->click();
    EXPECT_TRUE(PumpUntil([&] { return start->isEnabled(); }));
    EXPECT_EQ(TargetItems(), (QStringList{"", "localhost", "localhost"}));
    // A new window of the program loads what was recorded.
    LoadHistory();
    EXPECT_EQ(TargetItems(), (QStringList{"", "localhost", "localhost"}));
}

// A history of 16 MiB (millions of tiny entries, as another user could leave it): the list holds the
// newest entries up to its bound, and a save leaves the file with them and the new target.
TEST_F(WindowFixture, AHugeHistoryKeepsItsNewestEntriesInTheListAndTheFile) {
    std::string newest;
    for (int i = 0; i < 1000; ++i) newest += "n" + std::to_string(i) + "|";
    std::string file = HistoryFile("");
    std::string value;
    value.reserve(16 << 20);
    while (file.size() + value.size() + newest.size() + 2 < (16u << 20)) value += "a|";
    folder_.write("lsjl.ini", HistoryFile(value + "n|" + newest));
    LoadHistory();
    QStringList items = TargetItems();
    ASSERT_EQ(items.size(), 1000);
    EXPECT_EQ(items.front(), "n0");
    EXPECT_EQ(items.back(), "n999");
    Type(TargetBox(), "new.example");
    RecordHistory();
    EXPECT_EQ(folder_.read("lsjl.ini"), HistoryFile(newest + "new.example|"));
}
