#pragma once
// The fixture of the movie's commands: a started window over a real temporary save folder.
#include "WindowTestFixture.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class MovieCommandsTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
        save = window->SavePath();
    }

    void command(const QString &name, const QString &argument = QString())
    {
        emit player->FSCommand(name, argument);
    }

    QString path(const QString &name) const { return save + '/' + name; }

    // Everything in the save folder and in the folder above it, hidden entries included.
    QStringList everything() const
    {
        const auto filter = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
        QStringList all = QDir(save).entryList(filter, QDir::Name);
        for (const QString &e : QDir(save + "/..").entryList(filter, QDir::Name))
            all << "../" + e;
        return all;
    }

    // A profile with the given write time in seconds since 1970; 0 makes it a link that
    // leads nowhere, listed like a file but with no time that can be read.
    void profile(const QString &name, qint64 seconds)
    {
        const QByteArray native = QFile::encodeName(path(name));
        if (seconds == 0) {
            ASSERT_EQ(symlink("nowhere", native.constData()), 0);
            return;
        }
        writeFile(path(name), "<p/>\r\n");
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, native.constData(), times, 0), 0);
    }

    QString save;
};
