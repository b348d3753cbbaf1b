#pragma once
// Giving the desktop back its display mode and screen saver however the program ends.
//
// X keeps a changed display mode and screen-saver timeout when the process that changed
// them dies, so the program keeps a guardian process: a child forked at start that holds
// one end of a socket to the host. The host tells it what is to be given back; when the
// socket reaches end of file (the host ended in any way: exit, crash, a signal, kill -9)
// the guardian opens its own X connection and gives back what is still pending, then
// ends. The pending state is also kept in a file in the user's runtime folder, so that the
// next start can repair what was left when even the guardian could not.
//
// All calls are for one thread (the user-interface thread); they do nothing harmful when
// Start() was never called.
#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace platform::Watchdog {

// Forks the guardian. Call first thing in main(), while the process has one thread and
// no X connection. Later calls do nothing.
void Start();

// SIGTERM, SIGINT and SIGHUP end the host at once with 128 + the signal's number; the
// guardian then gives the desktop back. Call once the toolkits have installed their own
// handlers, so that these stay in place.
void InstallSignalHandlers();

// Gives back what a run that ended uncleanly left behind, as its state file lists it, and
// deletes the file. Nothing when the run that wrote it still lives. Call after the
// single-copy check and before the desktop's display mode is first read.
void RepairAfterUncleanEnd();

// The state to give back. Restore data is a display-mode record's platformData (see
// X11DisplayModes); the screen-saver timeout is in seconds, on the named X display (the
// environment's display when empty).
void DesktopModeToRestore(const QByteArray &restoreData);
void DesktopModeRestored();
// Display modes of ours are on the outputs of that X display: at the end, those that no
// output shows any more are removed (the desktop's mode given back first, where pending).
void AddedModesOn(const QByteArray &displayName);
void ScreenSaverTimeoutToRestore(int seconds, const QByteArray &displayName = {});
void ScreenSaverRestored();
// Nothing is pending any more: the program ends cleanly after giving everything back.
void ForgetAll();

// The guardian's process id; 0 when none was started.
pid_t GuardianPid();
// The file that lists the pending state while something is pending.
QString StateFilePath();

} // namespace platform::Watchdog
