#pragma once
// The Linux/X11 implementations of the platform services.
#include "platform/Services.h"

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

class QtUserInterface : public UserInterface {
public:
    void ShowMessage(const QString &caption, const QString &text) override;
    void ReportError(const QString &text) override;
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
