#include "platform/LinuxServices.h"

#include "bridge/core/ProtocolTrace.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {
namespace {

const QString ApplicationTitle = QStringLiteral("Lanternfall");

} // namespace

FileInstanceLock::FileInstanceLock(QString lockPath) : path_(std::move(lockPath)) {}

FileInstanceLock::~FileInstanceLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QString FileInstanceLock::DefaultPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) // no runtime folder: a per-user folder of our own, never a shared /tmp
        dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(dir);
    return dir + QStringLiteral("/lanternfall.lock");
}

bool FileInstanceLock::AnotherCopyRuns()
{
    if (decided_)
        return another_;
    decided_ = true;
    fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        // Without a lock file there is no way to tell; starting is better than refusing.
        std::fprintf(stderr, "lanternfall: cannot open the lock file %s; not checking for "
                             "another copy\n",
                     qPrintable(path_));
        return another_ = false;
    }
    another_ = ::flock(fd_, LOCK_EX | LOCK_NB) != 0;
    return another_;
}

void QtUserInterface::ShowMessage(const QString &caption, const QString &text)
{
    // Also on stderr, for a log of what the user was told.
    std::fprintf(stderr, "lanternfall: %s%s%s\n", qPrintable(caption), caption.isEmpty() ? "" : ": ",
                 qPrintable(text));
    std::fflush(stderr);
    // Without a caption of its own the box carries the application's title.
    QMessageBox box(QMessageBox::NoIcon, caption.isEmpty() ? ApplicationTitle : caption, text,
                    QMessageBox::Ok);
    box.exec();
}

void QtUserInterface::ReportError(const QString &text)
{
    std::fprintf(stderr, "lanternfall: %s\n", qPrintable(text));
    std::fflush(stderr);
    // A row of failing commands must not cover the screen with boxes: a text already shown
    // is counted in its box, and beyond a few boxes the reports stay on stderr.
    boxes_.removeIf([](const Box &b) { return b.box.isNull() || !b.box->isVisible(); });
    for (Box &open : boxes_) {
        if (open.text == text) {
            ++open.times;
            Describe(open);
            return;
        }
    }
    if (boxes_.size() >= MostBoxes) {
        ++withoutBox_;
        Describe(boxes_.last());
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, ApplicationTitle, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    boxes_.append({text, box});
    withoutBox_ = 0; // counted from here in the newest box
    box->show();
}

void QtUserInterface::Describe(Box &box)
{
    QStringList lines;
    if (box.times > 1)
        lines << QStringLiteral("This happened %1 times.").arg(box.times);
    if (withoutBox_ > 0 && &box == &boxes_.last())
        lines << (withoutBox_ == 1 ? QStringLiteral("1 more failure was reported only on the "
                                                    "program's error output (stderr).")
                                   : QStringLiteral("%1 more failures were reported only on the "
                                                    "program's error output (stderr).")
                                         .arg(withoutBox_));
    box.box->setInformativeText(lines.join(u'\n'));
}

void ImmediateProcess::EndNow(int exitCode)
{
    std::fflush(stdout);
    std::fflush(stderr);
    // At once: no unload work, no further window event. The page processes of the web
    // engine end with their parent.
    ::_exit(exitCode);
}

bool DesktopUrlOpener::Open(const QString &address)
{
    // The desktop's choice of browser through xdg-open, as Qt would ask it, but never with
    // the host's own environment.
    const QStringList path = environment_.value(QStringLiteral("PATH")).split(u':', Qt::SkipEmptyParts);
    QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"), path);
    if (program.isEmpty()) {
        const QString browser = environment_.value(QStringLiteral("BROWSER")).section(u':', 0, 0);
        if (!browser.isEmpty())
            program = QStandardPaths::findExecutable(browser, path);
    }
    if (program.isEmpty()) {
        std::fprintf(stderr, "lanternfall: cannot open %s: neither xdg-open nor $BROWSER is "
                             "there\n",
                     qPrintable(address));
        return false;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments({address});
    process.setProcessEnvironment(environment_);
    return process.startDetached();
}

} // namespace platform
