#include "../image/commands.h"
#include "../image/identifiers.h"
#include "../image/subroutines.h"
#include "../image/support.h"
#include "ui.h"

namespace {

UnitRef TargetBox() { return UNIT_REF(Id_TargetBox, Type_ComboBox); }

// The history file: the program's folder and "\lsjl.ini".
Text HistoryPath() {
    Text folder = ProgramFolder();
    Text path = JoinTexts(folder, K_HistoryFile);
    FreeBlock(folder);
    return path;
}

} // namespace

void LoadHistory() {
    Text path = HistoryPath();
    Core(0x3d0, ArgUnit(TargetBox())); // the edit field keeps its text
    Text value = ReadConfigItem(path, K_HistorySection, K_HistoryKey);
    // Every piece followed by "|" is an entry; an empty remainder after the last one is none.
    Array entries = SplitText(value, K_Bar);
    uint32_t count = ArrayElementCount(entries).count;
    for (uint32_t i = 1; i <= count; ++i)
        Core(0x3c4, ArgUnit(TargetBox()), ArgText(TextArrayAt(entries, (int32_t)i, Sub_LoadHistory, 4)), ArgOmitted());
    FreeTextArray(entries);
    FreeBlock(value);
    FreeBlock(path);
}

void RecordHistory() {
    // The target as typed: not trimmed, an empty one kept, repeats kept.
    Text target = (Text)(uintptr_t)RtGetProperty(CONTROL(Id_TargetBox), RtPropertyComboText, -1);
    Core(0x3c4, ArgUnit(TargetBox()), ArgText(target), ArgOmitted());
    FreeBlock(target);

    Text path = HistoryPath();
    Text value = CopyText(K_Empty);
    int32_t count = ResultInt(Core(0x3b0, ArgUnit(TargetBox())));
    for (int32_t i = 0; i < count; ++i) {
        Text item = ResultText(Core(0x3bc, ArgUnit(TargetBox()), ArgInt(i)));
        Text longer = JoinTexts(value, item, K_Bar);
        FreeBlock(item);
        FreeBlock(value);
        value = longer;
    }
    WriteConfigItem(path, K_HistorySection, K_HistoryKey, value);
    FreeBlock(value);
    FreeBlock(path);
}

void ClearHistory() {
    Text path = HistoryPath();
    FileDelete(path);
    WriteConfigItem(path, K_HistorySection, K_HistoryKey, K_InitialHistory);
    FreeBlock(path);
    LoadHistory();
}
