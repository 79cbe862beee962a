#pragma once

#include <QObject>
#include <QString>

class UpdateDriver;

// One run of the flasher: search the unit, report it, and install the carried image if asked.
class FlashSession : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FlashSession)

public:
    enum ExitCode
    {
        EXIT_OK = 0,
        EXIT_FAILED = 1,
        EXIT_USAGE = 2
    };

    explicit FlashSession(QObject *parent = nullptr);

    void setPort(const QString &path) { _port = path; }
    void setInstall(bool install) { _install = install; }
    void setDowngrade(bool downgrade) { _downgrade = downgrade; }
    void setProgressBar(bool progressBar) { _progressBar = progressBar; }

    int run();

private slots:
    void showProgress();

private:
    bool waitForResult();
    int install();

    UpdateDriver *_driver = nullptr;
    QString _port;
    bool _install = false;
    bool _downgrade = false;
    bool _progressBar = false;
    int _shownProgress = -1;
};
