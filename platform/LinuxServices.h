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

class DesktopUrlOpener : public UrlOpener {
public:
    bool Open(const QString &address) override;
};

} // namespace platform
