#include "display/modChangeRes.h"

#include "shell/GameSettings.h"

namespace modChangeRes {
namespace {

State state;
platform::DisplayModes *displayModes = nullptr;
platform::UserInterface *ui = nullptr;
platform::Process *process = nullptr;

constexpr uint32_t DM_BITSPERPEL = 0x00040000;
constexpr uint32_t DM_PELSWIDTH = 0x00080000;
constexpr uint32_t DM_PELSHEIGHT = 0x00100000;
constexpr uint32_t DM_DISPLAYFREQUENCY = 0x00400000;

// The current mode into the record and the saved values. A failed enumeration leaves the
// record, and so the saved mode, as it was.
void ReadCurrentMode()
{
    if (displayModes)
        displayModes->EnumCurrent(state.DisplayModeRecord);
    const auto &record = state.DisplayModeRecord;
    state.SavedWidth = static_cast<int16_t>(record.dmPelsWidth);
    state.SavedHeight = static_cast<int16_t>(record.dmPelsHeight);
    // The depth travels as the low half of the field.
    state.SavedColorDepth = static_cast<int16_t>(record.dmBitsPerPel & 0xFFFF);
    state.SavedFrequency = static_cast<int16_t>(record.dmDisplayFrequency);
}

} // namespace

void SetServices(platform::DisplayModes *modes, platform::UserInterface *userInterface,
                 platform::Process *proc)
{
    displayModes = modes;
    ui = userInterface;
    process = proc;
}

const State &CurrentState()
{
    return state;
}

void Reset()
{
    state = State{};
}

void CheckDesktopDisplay()
{
    ReadCurrentMode();
    if (state.SavedWidth < state.SavedHeight) {
        if (state.SavedWidth < GameSettings::GameWidth) {
            if (ui)
                ui->ShowMessage(QStringLiteral("Resolution Issue"),
                                QStringLiteral("This game does not support portrait mode "
                                               "resolutions. Please set your monitor to "
                                               "Landscape mode and restart the game."));
            if (process)
                process->EndNow(0);
            return;
        }
        GameSettings::PortraitDisplay = true;
    }
}

void SetGameDisplayMode()
{
    ReadCurrentMode();
    ChangeDisplayMode(GameSettings::GameWidth, GameSettings::GameHeight, state.SavedColorDepth,
                      state.SavedFrequency);
}

bool RestoreDesktopDisplayMode(bool *refused)
{
    if (refused)
        *refused = false;
    if (state.SavedWidth > GameSettings::GameWidth && state.SavedHeight > GameSettings::GameHeight) {
        bool accepted = true;
        ChangeDisplayMode(state.SavedWidth, state.SavedHeight, state.SavedColorDepth,
                          state.SavedFrequency, &accepted);
        if (refused)
            *refused = !accepted;
        return accepted;
    }
    return false;
}

bool DesktopLargerThanStage()
{
    ReadCurrentMode();
    return state.SavedWidth > GameSettings::GameWidth && state.SavedHeight > GameSettings::GameHeight;
}

bool ChangeDisplayMode(int16_t width, int16_t height, int16_t colorDepth, int16_t frequency,
                       bool *accepted)
{
    const bool size = width != 0 && height != 0;
    const bool noSize = width == 0 && height == 0;
    auto &record = state.DisplayModeRecord;
    const State before = state;

    auto setDepth = [&record](int16_t depth) {
        record.dmBitsPerPel = (record.dmBitsPerPel & 0xFFFF0000u) | static_cast<uint16_t>(depth);
    };
    auto setSize = [&record](int16_t w, int16_t h) {
        record.dmPelsWidth = static_cast<uint32_t>(static_cast<int32_t>(w));
        record.dmPelsHeight = static_cast<uint32_t>(static_cast<int32_t>(h));
    };
    auto setFrequency = [&record](int16_t f) {
        record.dmDisplayFrequency = static_cast<uint32_t>(static_cast<int32_t>(f));
    };

    if (size && colorDepth == 0 && frequency == 0) {
        setSize(width, height);
        setDepth(before.LastColorDepth);
        setFrequency(before.LastFrequency);
        RememberDisplayRequest(width, height, colorDepth, frequency, QStringLiteral("ChangeResol"));
    } else if (noSize && colorDepth != 0 && frequency == 0) {
        setSize(before.LastWidth, before.LastHeight);
        setDepth(colorDepth);
        setFrequency(before.LastFrequency);
        RememberDisplayRequest(width, height, colorDepth, frequency, QStringLiteral("ChangeColor"));
    } else if (noSize && colorDepth == 0 && frequency != 0) {
        setSize(before.LastWidth, before.LastHeight);
        setDepth(before.LastColorDepth);
        setFrequency(frequency);
        RememberDisplayRequest(width, height, colorDepth, frequency, QStringLiteral("ChangeFreq"));
    } else if (size && colorDepth != 0 && frequency != 0) {
        setSize(width, height);
        setDepth(colorDepth);
        setFrequency(frequency);
        RememberDisplayRequest(width, height, colorDepth, frequency, QStringLiteral("ChangeAll"));
    } else if (noSize && colorDepth == 0 && frequency == 0) {
        return false;
    }
    // Every other pattern hands the record to the platform as it stands.
    record.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
    const bool taken = !displayModes || displayModes->ChangeTemporarily(record);
    if (accepted)
        *accepted = taken;
    return true;
}

void RememberDisplayRequest(int16_t width, int16_t height, int16_t colorDepth,
                            int16_t frequency, const QString &kind)
{
    if (kind == u"ChangeResol") {
        state.LastWidth = width;
        state.LastHeight = height;
    } else if (kind == u"ChangeColor") {
        state.LastColorDepth = colorDepth;
    } else if (kind == u"ChangeFreq") {
        state.LastFrequency = frequency;
    } else if (kind == u"ChangeAll") {
        state.LastWidth = width;
        state.LastHeight = height;
        state.LastColorDepth = colorDepth;
        state.LastFrequency = frequency;
    }
}

} // namespace modChangeRes
