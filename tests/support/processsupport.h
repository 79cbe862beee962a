#pragma once

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <grp.h>
#include <sys/fsuid.h>
#include <unistd.h>

// Descriptors of this process that refer to the device, also after the device has gone.
inline QSet<int> descriptorsOf(const QString &path)
{
    QSet<int> descriptors;
    const QFileInfoList fds =
        QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &fd : fds) {
        const QString target = fd.symLinkTarget();
        if (target == path || target.startsWith(path + " ("))
            descriptors.insert(fd.fileName().toInt());
    }
    return descriptors;
}

// Root opens every file whatever its mode: where a test needs a refusal, files are checked and
// programs run as this ordinary user ("nobody") instead.
const unsigned ORDINARY_USER_ID = 65534;

// From here on the calling thread's file accesses are checked as the ordinary user's, when the
// tests run as root (the filesystem uid is per thread and drops the capability to override
// permissions). Returns whether anything changed.
inline bool checkFilesAsOrdinaryUser()
{
    if (geteuid() != 0)
        return false;
    setfsuid(ORDINARY_USER_ID);
    return true;
}

// Runs fn with the calling thread's file accesses checked as the ordinary user's, then as before.
template <typename Fn> void asOrdinaryUser(Fn fn)
{
    const bool changed = checkFilesAsOrdinaryUser();
    fn();
    if (changed)
        setfsuid(0);
}

// A program that a test or a benchmark runs: as the ordinary user when asked (also when the tests
// run as root; a child that cannot become that user exits with 127 before the program starts).
class TestProcess : public QProcess
{
public:
    bool asOrdinaryUser = false;

    // The program's exit status, or crashed when it did not exit by itself.
    int exitCodeOr(int crashed) const { return exitStatus() == QProcess::NormalExit ? exitCode() : crashed; }

protected:
    void setupChildProcess() override
    {
        if (asOrdinaryUser && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(ORDINARY_USER_ID) != 0 || setuid(ORDINARY_USER_ID) != 0))
            _exit(127);
    }
};
