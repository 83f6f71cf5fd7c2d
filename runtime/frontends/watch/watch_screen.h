// What the live view shows, as lines of text: a pure function of the figures, the view's state and
// the terminal's size, so that the layout is tested without a terminal. The table has the columns
// of the report's rounds table; a hop's further responders take lines of their own under it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/core/path_stats.h"

namespace rt::watch {

// What the rounds are doing, as the status line tells it.
enum class Activity {
    Running,  // rounds follow one another
    Pausing,  // paused, once the round under way has ended
    Paused,   // waiting for its user to resume
    Stopping, // the round under way is the last
};

struct ScreenState {
    std::string target; // as typed on the command line (UTF-8)
    const PathStats *stats = nullptr;
    Activity activity = Activity::Running;
    // The AS column's text for an address ("AS4134 CHINANET", "-"); without it, no AS column.
    std::function<std::string(uint32_t address)> asOf;
};

struct Screen {
    std::vector<std::string> lines; // UTF-8, control characters replaced, each within the width
    int titleLine = 0;              // the line drawn in reverse video
    int headerLine = 0;             // the column titles, drawn bold
};

// The lines above the table: the title, the keys with the status, a blank line and the titles.
inline constexpr int kLinesAboveTable = 4;
// A place keeps this many columns until every figure but the essential ones has given way.
inline constexpr int kPlaceKept = 16;

// As the terminal narrows, columns give way in this order: the AS organisation's name, the rest of
// a place past kPlaceKept columns, Jttr, StDev, the AS number, Wrst, Best and Last; the place's
// first columns go last. Hop, address, Loss%, Snt and Avg always stay. Characters of East Asian
// scripts take two columns.
Screen ComposeScreen(const ScreenState &state, int columns, int rows);

} // namespace rt::watch
