#pragma once
// The player filter: it stands in front of the player's input window and keeps the right
// button and the context-menu key from the player, keeps Ctrl to itself, turns Ctrl+Enter
// into the full-screen toggle, treats a Windows (Super) key as a loss of focus, and takes a
// screenshot on F12.
#include <QObject>

class QWidget;
class frmMain;

namespace RightClickModule2 {

// The player's input window as found by the search, null until found; never cleared.
QWidget *PlayerHwnd();
// A Ctrl key-down has reached the player window and no Ctrl key-up has followed.
bool CtrlDown();

// Looks at one window of the search; true (and PlayerHwnd set) when it is the player's.
bool FindPlayerWindowProc(QWidget *window);

// Installs the player filter on PlayerHwnd, clears CtrlDown.
void HookPlayerWindow(frmMain *window);

// For tests: back to the state at program start.
void Reset();

// The class name a window is searched by: its object name when it has one, else its
// Qt class name.
QString WindowClassName(const QObject *window);

} // namespace RightClickModule2
