#pragma once

#include <QObject>

class QSocketNotifier;

// Takes the interrupts away from their default action, so that the flasher can decide whether
// stopping is safe. On POSIX: SIGINT and SIGTERM (and, while watching, SIGHUP); the handler only
// writes the signal's number into a pipe. On Windows: the console's Ctrl-C, Ctrl-Break and close
// events through SetConsoleCtrlHandler (consolecontrol.h), as SIGINT, SIGBREAK and SIGHUP. The
// number arrives as interrupted() on the thread that owns the guard.
class InterruptGuard : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(InterruptGuard)

public:
    enum class Mode
    {
        Off,      // the dispositions found when the guard was switched on
        Watching, // a search: SIGINT, SIGTERM and SIGHUP reach interrupted(), to be answered at once
        Guarding  // an installation: SIGINT and SIGTERM reach interrupted(), SIGHUP is ignored (a
                  // closed terminal must not leave a unit half written)
    };

    explicit InterruptGuard(QObject *parent = nullptr);
    ~InterruptGuard() override; // restores the dispositions it changed

    // A signal ignored when the program started stays ignored.
    void setMode(Mode mode);
    void setGuarding(bool on) { setMode(on ? Mode::Guarding : Mode::Off); }
    Mode mode() const { return _mode; }
    // Whether an interrupt came that interrupted() has not told of, taken here instead: for a wait
    // outside the event loop. Interrupts before the guard was last switched on do not count.
    bool takeInterrupt();

    // Ends the process by the given signal's default action, as if the guard had never taken it.
    static void terminateBy(int signalNumber);

    // Ignores SIGPIPE for the whole process: a reader that went away shows as a write error.
    static void ignoreBrokenPipes();
    // Ignores SIGXFSZ: a write past the file size limit (ulimit -f) fails instead of ending the
    // process, so that a record's row can be taken back and the unit's run still ends as it should.
    static void ignoreFileSizeLimit();

signals:
    void interrupted(int signalNumber);

private slots:
    void readSignals();
    void deliver(int signalNumber); // interrupted(), unless the guard was switched off meanwhile

private:
    Mode _mode = Mode::Off;
    QSocketNotifier *_notifier = nullptr;
};
