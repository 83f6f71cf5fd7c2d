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

// The history keeps the newest entries, as a shell keeps its history: a file of any size (years of
// use, or one another user made huge) costs no more than this many in the list and in every step.
constexpr uint32_t kHistoryEntries = 1000;

// Where the newest kHistoryEntries entries of a history value start: just past the separator before
// them; 0 when it holds no more. Each entry is followed by the separator; the last one may lack it.
uint32_t NewestEntriesStart(TextArg value) {
    const uint8_t *bytes = (const uint8_t *)value;
    uint8_t separator = (uint8_t)K_HistorySeparator[0];
    uint32_t length = TextLength(value);
    if (length == 0) return 0;
    uint32_t found = 0;
    for (uint32_t at = length - 1; at-- > 0;) // the separator that ends the last entry is not counted
        if (bytes[at] == separator && ++found == kHistoryEntries) return at + 1;
    return 0;
}

// Keeps the newest `keep` items of the target list, in their order; the edit field keeps its text.
void KeepNewestItems(int32_t keep) {
    int32_t count = ComboCount(TargetBox());
    if (count <= keep) return;
    Text *items = (Text *)RtAlloc((uint32_t)keep * (uint32_t)sizeof(Text) + 1);
    for (int32_t i = 0; i < keep; ++i) items[i] = ComboItem(TargetBox(), count - keep + i);
    ComboClear(TargetBox());
    for (int32_t i = 0; i < keep; ++i) {
        ComboAppend(TargetBox(), items[i]);
        FreeBlock(items[i]);
    }
    RtFree(items);
}

} // namespace

void LoadHistory() {
    Text path = HistoryPath();
    ComboClear(TargetBox()); // the edit field keeps its text
    Text value = ReadConfigItem(path, K_HistorySection, K_HistoryKey);
    // Every piece followed by "|" is an entry; an empty remainder after the last one is none.
    uint32_t start = NewestEntriesStart(value);
    Text newest = start ? TextRight(value, (int32_t)(TextLength(value) - start)) : 0;
    Array entries = SplitText(newest ? newest : value, K_HistorySeparator);
    uint32_t count = ArrayElementCount(entries).count;
    for (uint32_t i = 1; i <= count; ++i)
        ComboAppend(TargetBox(), TextArrayAt(entries, (int32_t)i, Sub_LoadHistory, 4));
    FreeTextArray(entries);
    FreeBlock(newest);
    FreeBlock(value);
    FreeBlock(path);
}

void RecordHistory() {
    // The target as typed: not trimmed, an empty one kept, repeats kept.
    Text target = (Text)(uintptr_t)RtGetProperty(CONTROL(Id_TargetBox), RtPropertyComboText, -1);
    ComboAppend(TargetBox(), target);
    FreeBlock(target);
    // The newest entries the list was loaded with, and the new target: the file stays the list's copy.
    KeepNewestItems((int32_t)kHistoryEntries + 1);

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
