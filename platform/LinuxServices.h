#pragma once
// The Linux/X11 implementations of the platform services.
#include "platform/Services.h"

#include <QList>
#include <QPointer>
#include <QProcessEnvironment>

class QMessageBox;
class QWidget;

namespace platform {

// A per-user lock: flock() on a file in the user's runtime folder. The kernel releases it
// when the process ends in any way, kill -9 included, so a stale lock never blocks a start.
class FileInstanceLock : public InstanceLock {
public:
    explicit FileInstanceLock(QString lockPath);
    ~FileInstanceLock() override;
    bool AnotherCopyRuns() override;
    // The lock file in the user's runtime folder.
    static QString DefaultPath();

private:
    QString path_;
    int fd_ = -1;
    bool decided_ = false;
    bool another_ = false;
};

// Reports: every one on stderr; on the screen one box per distinct text at a time (a
// repeat while it is open is counted in it), at most MostBoxes at once (the box shown
// last then counts the reports that got no box of their own).
class QtUserInterface : public UserInterface {
public:
    static constexpr int MostBoxes = 3;
    void ShowMessage(const QString &caption, const QString &text) override;
    void ReportError(const QString &text) override;

private:
    struct Box {
        QString text;
        QPointer<QMessageBox> box;
        int times = 1;
    };
    void Describe(Box &box);
    QList<Box> boxes_;   // the boxes open, oldest first
    int withoutBox_ = 0; // reports shown in no box while MostBoxes were open
};

class ImmediateProcess : public Process {
public:
    void EndNow(int exitCode) override;
};

// Opens addresses with xdg-open (else $BROWSER), started with the environment given: the
// one the program was started with, so that nothing the host set for itself and its web
// engine (Qt's platform and rendering path, the engine's switches, the session bus it
// settled on) reaches the browser.
class DesktopUrlOpener : public UrlOpener {
public:
    explicit DesktopUrlOpener(QProcessEnvironment environment)
        : environment_(std::move(environment))
    {
    }
    bool Open(const QString &address) override;

private:
    QProcessEnvironment environment_;
};

} // namespace platform
