#include "interruptguard.h"

#include <QSocketNotifier>

#include <atomic>
#include <cstdlib>

#ifdef Q_OS_WIN
#include "consolecontrol.h"
#endif

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1}; // read end, write end; one for the process

const int GUARDED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
const int GUARDED_COUNT = int(sizeof GUARDED_SIGNALS / sizeof GUARDED_SIGNALS[0]);
struct sigaction previousActions[GUARDED_COUNT];
bool changed[GUARDED_COUNT] = {};

// Async-signal-safe: one write, errno kept for the interrupted code.
void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops this one: the signals already waiting there say enough.
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    static_cast<void>(written);
    errno = savedErrno;
}

// The signal's action: the default one, or none.
void setDisposition(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = handler;
    sigaction(signalNumber, &action, nullptr);
}
#endif

#ifdef Q_OS_WIN
// The guard that the console's events reach: the handler runs on a thread of the system's.
std::atomic<InterruptGuard *> consoleGuard{nullptr};
std::atomic<bool> consoleEventCame{false}; // for takeInterrupt()

void onConsoleEvent(int event)
{
    consoleEventCame = true;
    InterruptGuard *guard = consoleGuard.load();
    if (guard)
        QMetaObject::invokeMethod(guard, "deliver", Qt::QueuedConnection, Q_ARG(int, event));
}
#endif

} // namespace

InterruptGuard::InterruptGuard(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (signalPipe[0] < 0) {
        if (::pipe(signalPipe) != 0)
            return;
        for (const int fd : signalPipe) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
        }
    }
    _notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &InterruptGuard::readSignals);
#endif
}

InterruptGuard::~InterruptGuard()
{
    setGuarding(false);
}

void InterruptGuard::setMode(Mode mode)
{
#ifdef Q_OS_UNIX
    if (mode == _mode || !_notifier)
        return;
    const bool wasOff = _mode == Mode::Off;
    _mode = mode;
    for (int i = 0; i < GUARDED_COUNT; ++i) {
        const int signalNumber = GUARDED_SIGNALS[i];
        if (mode == Mode::Off) {
            if (changed[i])
                sigaction(signalNumber, &previousActions[i], nullptr);
            changed[i] = false;
            continue;
        }
        // Ignored by whoever started the program (nohup, a background job): it stays so.
        if (wasOff && sigaction(signalNumber, nullptr, &previousActions[i]) != 0)
            previousActions[i].sa_handler = SIG_IGN;
        if (previousActions[i].sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        action.sa_handler = signalNumber == SIGHUP && mode == Mode::Guarding ? SIG_IGN : onSignal;
        changed[i] = sigaction(signalNumber, &action, nullptr) == 0 || changed[i];
    }
    if (mode == Mode::Off)
        readSignals(); // what came in before is about a finished installation
#elif defined(Q_OS_WIN)
    if (mode == _mode)
        return;
    _mode = mode;
    if (mode == Mode::Off) {
        ConsoleControl::releaseEvents();
        consoleGuard.store(nullptr);
    } else {
        consoleEventCame = false;
        consoleGuard.store(this);
        ConsoleControl::catchEvents(&onConsoleEvent);
    }
#else
    _mode = mode;
#endif
}

void InterruptGuard::terminateBy(int signalNumber)
{
#ifdef Q_OS_UNIX
    setDisposition(signalNumber, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signalNumber);
#endif
    // Only reached where the default action does not end the process.
    std::_Exit(128 + signalNumber);
}

void InterruptGuard::ignoreBrokenPipes()
{
#ifdef Q_OS_UNIX
    setDisposition(SIGPIPE, SIG_IGN);
#endif
}

void InterruptGuard::ignoreFileSizeLimit()
{
#ifdef Q_OS_UNIX
    setDisposition(SIGXFSZ, SIG_IGN);
#endif
}

bool InterruptGuard::takeInterrupt()
{
#ifdef Q_OS_UNIX
    unsigned char numbers[32];
    bool came = false;
    for (ssize_t count;
         (count = ::read(signalPipe[0], numbers, sizeof numbers)) > 0 || (count < 0 && errno == EINTR);)
        came = came || count > 0;
    return came;
#elif defined(Q_OS_WIN)
    return consoleEventCame.exchange(false);
#else
    return false;
#endif
}

void InterruptGuard::deliver(int signalNumber)
{
    if (_mode != Mode::Off)
        emit interrupted(signalNumber);
}

void InterruptGuard::readSignals()
{
#ifdef Q_OS_UNIX
    unsigned char numbers[32];
    ssize_t count = 0;
    while ((count = ::read(signalPipe[0], numbers, sizeof numbers)) > 0 || (count < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < count; ++i)
            deliver(numbers[i]);
    }
#endif
}
