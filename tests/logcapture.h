#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects the debug log while it is in scope (from any thread) and still passes every line on.
class LogCapture
{
public:
    LogCapture()
    {
        _previous = qInstallMessageHandler(&LogCapture::handler);
        instance() = this;
    }
    ~LogCapture()
    {
        qInstallMessageHandler(_previous);
        instance() = nullptr;
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

private:
    static LogCapture *&instance()
    {
        static LogCapture *current = nullptr;
        return current;
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (LogCapture *self = instance()) {
            {
                QMutexLocker locker(&self->_mutex);
                self->_lines << message;
            }
            if (self->_previous)
                self->_previous(type, context, message);
        }
    }

    mutable QMutex _mutex;
    QStringList _lines;
    QtMessageHandler _previous = nullptr;
};
