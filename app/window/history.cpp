#include "app/commands.h"
#include "contract/identifiers.h"
#include "app/subroutines.h"
#include "app/support.h"
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
    ComboClear(TargetBox()); // the edit field keeps its text
    Text value = ReadConfigItem(path, K_HistorySection, K_HistoryKey);
    // Every piece followed by "|" is an entry; an empty remainder after the last one is none.
    Array entries = SplitText(value, K_Bar);
    uint32_t count = ArrayElementCount(entries).count;
    for (uint32_t i = 1; i <= count; ++i)
        ComboAppend(TargetBox(), TextArrayAt(entries, (int32_t)i, Sub_LoadHistory, 4));
    FreeTextArray(entries);
    FreeBlock(value);
    FreeBlock(path);
}

void RecordHistory() {
    // The target as typed: not trimmed, an empty one kept, repeats kept.
    Text target = (Text)(uintptr_t)RtGetProperty(CONTROL(Id_TargetBox), RtPropertyComboText, -1);
    ComboAppend(TargetBox(), target);
    FreeBlock(target);

    Text path = HistoryPath();
    Text value = CopyText(K_Empty);
    int32_t count = ComboCount(TargetBox());
    for (int32_t i = 0; i < count; ++i) {
        Text item = ComboItem(TargetBox(), i);
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
