#pragma once

#include <QObject>

class QSocketNotifier;

// Takes SIGINT and SIGTERM away from their default action while an installation runs, so that the
// flasher can decide whether stopping is safe, and ignores SIGHUP meanwhile: a closed terminal must
// not leave a unit half written. The handler only writes the signal's number into a pipe; the
// number arrives as interrupted() on the thread that owns the guard. Outside an installation and on
// platforms without POSIX signals the guard does nothing.
class InterruptGuard : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(InterruptGuard)

public:
    explicit InterruptGuard(QObject *parent = nullptr);
    ~InterruptGuard() override; // restores the dispositions it changed

    // On: SIGINT and SIGTERM reach interrupted(), SIGHUP is ignored. Off: the dispositions found
    // when the guard was switched on. A signal ignored when the program started stays ignored.
    void setGuarding(bool on);

    // Ends the process by the given signal's default action, as if the guard had never taken it.
    static void terminateBy(int signalNumber);

    // Ignores SIGPIPE for the whole process: a reader that went away shows as a write error.
    static void ignoreBrokenPipes();

signals:
    void interrupted(int signalNumber);

private slots:
    void readSignals();

private:
    bool _guarding = false;
    QSocketNotifier *_notifier = nullptr;
};
