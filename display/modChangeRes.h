#pragma once
// Every display-mode change of the program: the desktop's mode is recorded at start-up and
// on each entry into full-screen mode, the display is switched to the stage size at the
// desktop's depth and refresh rate, and back to the recorded mode when that mode is
// larger than the stage. All changes are temporary ones through the platform service.
#include "platform/Services.h"

#include <cstdint>
#include <functional>

namespace modChangeRes {

// The services the module works through. `ui` shows the portrait refusal; `process` ends
// the program after it.
void SetServices(platform::DisplayModes *displayModes, platform::UserInterface *ui,
                 platform::Process *process);

// Reads the desktop's mode for later restoring, marks a portrait desktop, and ends the
// program with a message when the desktop is portrait and narrower than the stage.
void CheckDesktopDisplay();

// Records the mode in force and switches to the stage size at the same depth and rate.
void SetGameDisplayMode();

// Switches back to the recorded mode when it is larger than the stage in both dimensions
// and returns true; otherwise returns false and leaves the display as it is. A switch back
// that the display refuses returns false as well, with *refused set: the display is still
// in the game's mode.
bool RestoreDesktopDisplayMode(bool *refused = nullptr);

// Reads the mode in force and tells whether it is larger than the stage in both
// dimensions, changing nothing (full screen on the desktop's own mode).
bool DesktopLargerThanStage();

// Fills the record from the four values (a zero keeps the value last asked for) and hands
// it to the platform. True when the platform was called; *accepted tells whether it took
// the mode.
bool ChangeDisplayMode(int16_t width, int16_t height, int16_t colorDepth, int16_t frequency,
                       bool *accepted = nullptr);

// Remembers the values of a request of the given kind ("ChangeResol", "ChangeColor",
// "ChangeFreq" or "ChangeAll").
void RememberDisplayRequest(int16_t width, int16_t height, int16_t colorDepth,
                            int16_t frequency, const QString &kind);

// The module's state, for tests and for the display tests' fakes.
struct State {
    platform::DisplayModeRecord DisplayModeRecord;
    int16_t SavedWidth = 0, SavedHeight = 0, SavedColorDepth = 0, SavedFrequency = 0;
    int16_t LastWidth = 0, LastHeight = 0, LastColorDepth = 0, LastFrequency = 0;
};
const State &CurrentState();
// Back to the state at program start (all zeros).
void Reset();

} // namespace modChangeRes
