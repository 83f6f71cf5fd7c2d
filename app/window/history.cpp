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
    Array entries = SplitText(value, K_HistorySeparator);
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

    // Every item followed by "|", joined once: joining one item at a time would copy the whole text
    // so far for each, and a long history would take seconds.
    Text path = HistoryPath();
    int32_t count = ComboCount(TargetBox());
    TextArg *parts = (TextArg *)RtAlloc(2 * (uint32_t)count * (uint32_t)sizeof(TextArg) + 1);
    for (int32_t i = 0; i < count; ++i) {
        parts[2 * i] = ComboItem(TargetBox(), i);
        parts[2 * i + 1] = K_HistorySeparator;
    }
    Text value = JoinTextArray(2 * (uint32_t)count, parts);
    for (int32_t i = 0; i < count; ++i) FreeBlock((void *)parts[2 * i]);
    RtFree(parts);
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
