#pragma once
// Display modes of one output through RandR 1.2.
#include "platform/Services.h"

#include <QByteArray>

typedef struct _XDisplay Display;

namespace platform {

// The mode of the selected output, or while none is selected (or it is gone) the RandR
// primary output, or else the first connected output that drives a CRTC. The refresh rate
// is computed from the mode's timings (0 when the server gives none, as a stock Xvfb does).
// The colour depth is the screen's default depth, reported as 32 for 24-bit true colour
// (what Windows reports for the same visual); depth cannot change on X, so a change to
// another depth fails.
//
// A size the output has no mode for gets a mode of our own (reduced-blanking timings for
// the asked rate); such modes carry a name suffix. One is added under a server grab
// together with the mode setting that uses it, and stays on the output until this object
// ends (or the watchdog, where the program ends without it), so that the switches after
// the first change no output's mode list: a desktop such as mutter takes such a change for
// a monitor plugged in and resets every output to its own configuration, racing the switch.
// Before the first change away from the desktop the desktop's mode is handed to the
// watchdog, which gives it back however the program ends; the watchdog is told again once
// the display is back in that mode.
//
// X errors are caught and turn into a false result. Without RandR 1.2 every call fails.
class X11DisplayModes : public DisplayModes {
public:
    // On the Qt application's X connection (none: every call fails).
    X11DisplayModes();
    // On a connection of the caller's, which stays the caller's.
    explicit X11DisplayModes(Display *display);
    ~X11DisplayModes() override;

    bool EnumCurrent(DisplayModeRecord &record) override;
    bool ChangeTemporarily(const DisplayModeRecord &record) override;
    QList<Output> Outputs() override;
    void SelectOutput(const QByteArray &name) override;

private:
    Display *connection() const;
    // The selected output's id on the server; 0 (None) when none is selected or it is gone.
    unsigned long selectedId(Display *d);

    QByteArray selected_;
    unsigned long selectedId_ = 0; // found once: an output keeps its id while the server runs

    Display *display_ = nullptr;
    bool ownConnectionOfQt_ = false;
    // The desktop's mode (restore data) while the display is away from it.
    QByteArray desktop_;
};

// The bits EnumCurrent sets in dmFields: DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT |
// DM_DISPLAYFREQUENCY.
constexpr uint32_t DisplayModeFields = 0x005C0000;

// The suffix of the names of the modes this program adds to an output.
inline constexpr char OwnModeSuffix[] = "-lanternfall";

// Catches the X errors of the requests made on one connection while it lives, instead of
// Xlib's default handler ending the process. Errors of other connections go to the handler
// that was installed before. Traps nest; one thread only.
class X11ErrorTrap {
public:
    // Replies: every request made under the trap waits for its reply, so its error is in
    // when the call returns; the trap then needs no round trips of its own.
    enum Kind { Syncing, Replies };
    explicit X11ErrorTrap(Display *display, Kind kind = Syncing);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap &) = delete;
    X11ErrorTrap &operator=(const X11ErrorTrap &) = delete;
    // Waits for the server to have handled every request so far; true when one of the
    // requests since the trap was set failed.
    bool Failed();
    // The errors seen so far, without waiting for the server.
    int ErrorCount() const;

private:
    Display *display_;
    Kind kind_;
    int baseline_ = 0;
};

// Gives the display the mode that restore data (a record's platformData) describes: the
// same mode, position, rotation and screen size. Then removes the modes this program
// added that no CRTC uses. True when the display is in that mode afterwards. For the
// watchdog and the repair at start: needs no Qt application.
bool RestoreDisplayMode(Display *display, const QByteArray &restoreData);

// Removes from every output the modes this program added, and destroys them, as far as no
// CRTC uses them. Returns how many modes were destroyed.
int RemoveAddedModes(Display *display);

// The X display name that restore data was taken on (empty when it names none).
QByteArray DisplayNameOf(const QByteArray &restoreData);

} // namespace platform
