#pragma once

#include "BSL_Interface.h"

#include <QList>
#include <QPair>
#include <QString>

// Where the flasher's words go. Results on standard output; progress and errors on standard
// error. With Json, standard output carries one JSON object per line and event instead
// of the result lines, and standard error no progress; Quiet keeps the errors only. A stream whose
// reader went away (a closed pipe, a closed terminal) is written no more, and the work goes on.
class Report
{
    Q_DISABLE_COPY(Report)

public:
    enum class Format
    {
        Text,
        Quiet,
        Json
    };
    // One field of a JSON event: its name and its value as JSON text.
    using Field = QPair<QString, QString>;

    Report() = default;

    void setFormat(Format format) { _format = format; }
    Format format() const { return _format; }
    // A bar redrawn in place (standard error is a terminal) instead of one "N %" line per step.
    void setProgressBar(bool progressBar) { _progressBar = progressBar; }

    void result(const QString &line);
    // Errors, and the answers to an interrupt, in every format.
    void error(const QString &line);
    void progress(int percent);
    // Ends the line of the progress bar, so that the next words start on a line of their own.
    void endBarLine();
    void event(const QString &name, const QList<Field> &fields = {});
    // The result event is also written to this file, alone and in every format, for the process
    // that started this run (--all); a file that cannot be written leaves the run as it is.
    void setResultFile(const QString &path) { _resultFile = path; }

    static QString json(const QString &text); // a null text is null
    static QString json(bool value);
    static QString json(int value);
    static QString json(double value, int decimals);
    static QString phaseName(BSL_Interface::Phase phase);
    // Text from a unit or the port list as it may be printed: every control character (ESC, a line
    // break, ...), and every invisible one that changes how text is laid out, as \xNN or \uNNNN, so
    // that no such text can move the cursor, clear the screen or start a line of its own.
    static QString printable(const QString &text);

private:
    static void write(bool error, const QString &text);

    Format _format = Format::Text;
    bool _progressBar = false;
    bool _barOnLine = false; // the progress bar was drawn and no line break followed it
    QString _resultFile;
};
