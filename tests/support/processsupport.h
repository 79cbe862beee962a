#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <grp.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
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
// run as root; a child that cannot become that user exits with 127 before the program starts),
// watched until a line shows on its output, and stopped when it goes out of scope.
class TestProcess : public QProcess
{
public:
    bool asOrdinaryUser = false;
    long long fileSizeLimit = -1; // RLIMIT_FSIZE of the program in bytes, -1: as this process's

    ~TestProcess() override { stop(); }

    // Runs the program in this process's environment with these variables set over it.
    void setVariables(std::initializer_list<std::pair<const char *, QString>> variables)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto &variable : variables)
            environment.insert(variable.first, variable.second);
        setProcessEnvironment(environment);
    }

    // Reads the output (standard output, or both channels when merged) until a whole line that
    // contains text, the program's end, or timeoutMs from now. Returns that line without its line
    // break, or nothing.
    QByteArray waitForLine(const QByteArray &text, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            _output += readAll();
            for (int end; (end = _output.indexOf('\n', _scanned)) >= 0; _scanned = end + 1) {
                const QByteArray line = _output.mid(_scanned, end - _scanned);
                if (line.contains(text)) {
                    _scanned = end + 1;
                    return line.trimmed();
                }
            }
            if (state() == QProcess::NotRunning || clock.elapsed() >= timeoutMs)
                return QByteArray();
            waitForReadyRead(POLL_MS);
        }
    }

    // All the output read so far, and what is still waiting.
    QByteArray output()
    {
        _output += readAll();
        return _output;
    }

    // Asks the program to end, then ends it; each step waits up to waitMs.
    void stop(int waitMs = 5000)
    {
        if (state() == QProcess::NotRunning)
            return;
        terminate();
        if (!waitForFinished(waitMs))
            kill();
        waitForFinished(waitMs);
    }

    // The program's exit status, or crashed when it did not exit by itself.
    int exitCodeOr(int crashed) const { return exitStatus() == QProcess::NormalExit ? exitCode() : crashed; }

protected:
    void setupChildProcess() override
    {
        if (asOrdinaryUser && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(ORDINARY_USER_ID) != 0 || setuid(ORDINARY_USER_ID) != 0))
            _exit(127);
        const rlimit limit = {rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
        if (fileSizeLimit >= 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(127);
    }

private:
    static const int POLL_MS = 100; // how often the program's state and the time are looked at
    QByteArray _output;
    int _scanned = 0; // where the first line not yet looked at starts
};
