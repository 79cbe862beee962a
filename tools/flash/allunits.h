#pragma once

#include "exitcode.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QEventLoop;
class QProcess;
class QTemporaryDir;

// Installs on several units at once: one run of this program per unit, side by side, each with
// --port on the unit's device. Every line a run writes comes out on the same stream with the unit's
// port in front ("[ttyACM0] 42 %"); a table of the results follows when all have ended.
//
// The runs sit in a process group of their own, so that an interrupt from the terminal reaches
// them once, through this process: SIGINT and SIGTERM are passed on to every run still going, and
// each run applies its own rule (a warning during erase and write, a stop at the second).
class AllUnits : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(AllUnits)

public:
    explicit AllUnits(QObject *parent = nullptr);
    ~AllUnits() override;

    // The devices to install on; none: every serial port with the unit's USB identifiers.
    void setPorts(const QStringList &paths) { _ports = paths; }
    // The units on the ports with these USB serial numbers, instead of the ports.
    void setSerialNumbers(const QStringList &serialNumbers) { _serialNumbers = serialNumbers; }
    // The options every unit's run gets besides --port, such as --install and --verify.
    void setUnitArguments(const QStringList &arguments) { _unitArguments = arguments; }
    // The station record the runs append to: a run that cannot (killed) gets its row from here.
    void setRecordFile(const QString &path) { _recordFile = path; }
    // One line per unit redrawn in place (port, serial number, model, phase, a bar, the result)
    // instead of the runs' lines, for a terminal on both streams; the runs' errors and warnings
    // still come, above those lines.
    void setLive(bool live) { _live = live; }

    int run();

    // 0 when every unit succeeded; 130 when the user stopped any; the status all units share;
    // else 1. No unit at all: 3.
    static int combinedStatus(const QList<int> &statuses);

private slots:
    void onInterrupted(int signalNumber);

private:
    struct Unit
    {
        QString device;
        QString label;        // the port's name, in front of the unit's lines and in the table
        QString serialNumber; // the port's USB serial number, as listed or as the run tells
        QString phase;        // live: what the run does now, as its events tell
        int percent = -1;     // live: of the image written
        std::unique_ptr<QProcess> process;
        QByteArray pending[2]; // a line begun on standard output, on standard error
        QString resultFile;    // where the run writes its result event
        QString model;         // as the run's result event tells, or its lines or events before
        QString version;       // the unit's, as the run's lines or events tell
        QElapsedTimer clock;
        double seconds = 0;
        bool ended = false;
        bool started = false;
        bool crashed = false;
        int status = -1;
    };

    // EXIT_OK; else, with an error line, EXIT_NO_UNIT when a serial number asked for is on no port
    // and EXIT_USAGE when one is on more than one port (it identifies no unit).
    int findUnits();
    void start(Unit &unit);
    void relay(Unit &unit, int channel, bool all);
    // Live: what an event of the run tells of its unit.
    void takeEvent(Unit &unit, const QByteArray &line);
    // Else what a line of the run tells of its unit: model, version, progress.
    static void takeLine(Unit &unit, int channel, const QByteArray &line);
    // A run that ended without telling its end (killed): the command that restores its unit, its row.
    void tellOfCrash(Unit &unit);
    QString liveLine(const Unit &unit) const;
    // Live: the units' lines drawn again over those drawn before, with `above` (whole lines) first.
    void redraw(const QByteArray &above = QByteArray());
    void finish(Unit &unit);
    void readResult(Unit &unit);
    int statusOf(const Unit &unit) const;
    QString resultOf(const Unit &unit) const;
    void printSummary() const;

    QStringList _ports;
    QStringList _serialNumbers;
    QStringList _unitArguments;
    QString _recordFile;
    std::vector<std::unique_ptr<Unit>> _units;
    std::unique_ptr<QTemporaryDir> _resultDir; // the runs' result files
    bool _interrupted = false;                 // an interrupt was passed on to the runs
    bool _live = false;
    int _drawnLines = 0; // live: the units' lines on the terminal below the cursor's line
    bool _dirty = false; // live: a unit's line changed since it was drawn
    int _running = 0;
    QEventLoop *_loop = nullptr;
};
