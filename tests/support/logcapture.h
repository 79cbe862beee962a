#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Takes over the debug log while it is in scope, from any thread: keeps every line for the test to
// look at and passes the lines on as asked. Captures nest: an inner one passes on to the outer one.
// Install it inside a test function or initTestCase, where Qt Test's own handler is already in
// place.
class LogCapture
{
public:
    enum class PassOn
    {
        Everything,
        AllButDebug, // warnings and worse still reach the test's output
        Nothing,
    };

    explicit LogCapture(PassOn passOn = PassOn::Everything) : LogCapture(passOn, true) {}
    ~LogCapture()
    {
        qInstallMessageHandler(_previous);
        current() = _outer;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        QMutexLocker locker(&_mutex);
        return _lines;
    }
    bool contains(const QString &line) const { return lines().contains(line); }
    int count(const QString &line) const { return lines().count(line); }
    void clear()
    {
        QMutexLocker locker(&_mutex);
        _lines.clear();
    }

protected:
    LogCapture(PassOn passOn, bool keep) : _passOn(passOn), _keep(keep), _outer(current())
    {
        _previous = qInstallMessageHandler(&LogCapture::handler);
        current() = this;
    }

private:
    static LogCapture *&current()
    {
        static LogCapture *capture = nullptr;
        return capture;
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (LogCapture *self = current())
            self->take(type, context, message);
    }
    void take(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (_keep) {
            QMutexLocker locker(&_mutex);
            _lines << message;
        }
        if (_passOn == PassOn::Nothing || (_passOn == PassOn::AllButDebug && type == QtDebugMsg))
            return;
        if (_outer)
            _outer->take(type, context, message);
        else if (_previous)
            _previous(type, context, message);
    }

    const PassOn _passOn;
    const bool _keep;
    LogCapture *const _outer;
    QtMessageHandler _previous = nullptr;
    mutable QMutex _mutex;
    QStringList _lines;
};

// Keeps the log's lines out of the output while it is in scope, and keeps none of them: by default
// the loader's many debug lines per block, with PassOn::Nothing everything (the fuzz targets and
// the benchmarks, for the whole run).
class QuietLog : public LogCapture
{
public:
    explicit QuietLog(PassOn passOn = PassOn::AllButDebug) : LogCapture(passOn, false) {}
};
