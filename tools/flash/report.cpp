#include "report.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace {

const int PROGRESS_BAR_WIDTH = 40;

bool stdoutGone = false;
bool stderrGone = false;

} // namespace

void Report::write(bool error, const QString &text)
{
    std::FILE *stream = error ? stderr : stdout;
    bool &gone = error ? stderrGone : stdoutGone;
    if (gone)
        return;
    const QByteArray bytes = text.toUtf8();
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) != size_t(bytes.size()) ||
        std::fflush(stream) == EOF)
        gone = true;
}

void Report::result(const QString &line)
{
    if (_format == Format::Text)
        write(false, line + QLatin1Char('\n'));
}

void Report::error(const QString &line)
{
    endBarLine();
    write(true, line + QLatin1Char('\n'));
}

void Report::progress(int percent)
{
    if (_format == Format::Json) {
        event(QStringLiteral("progress"), {{QStringLiteral("percent"), json(percent)}});
        return;
    }
    if (_format == Format::Quiet)
        return;
    if (!_progressBar) {
        write(true, QStringLiteral("%1 %\n").arg(percent));
        return;
    }
    const int filled = qBound(0, percent, 100) * PROGRESS_BAR_WIDTH / 100;
    const QString bar =
        QString(filled, QLatin1Char('#')) + QString(PROGRESS_BAR_WIDTH - filled, QLatin1Char('-'));
    write(true, QStringLiteral("\r[%1] %2 %").arg(bar).arg(percent, 3));
    _barOnLine = true;
}

void Report::endBarLine()
{
    if (_barOnLine)
        write(true, QStringLiteral("\n"));
    _barOnLine = false;
}

void Report::event(const QString &name, const QList<Field> &fields)
{
    const bool toFile = !_resultFile.isEmpty() && name == QLatin1String("result");
    if (_format != Format::Json && !toFile)
        return;
    // Written by hand so that "event" comes first and the fields keep the documented order.
    QString line = QStringLiteral("{\"event\":") + json(name);
    for (const Field &field : fields)
        line += QLatin1Char(',') + json(field.first) + QLatin1Char(':') + field.second;
    line += QStringLiteral("}\n");
    if (_format == Format::Json)
        write(false, line);
    if (toFile) {
        QFile file(_resultFile);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(line.toUtf8()) < 0)
            qWarning().noquote() << "the result file" << _resultFile
                                 << "cannot be written:" << file.errorString();
    }
}

QString Report::json(const QString &text)
{
    if (text.isNull())
        return QStringLiteral("null");
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2)); // the string without its brackets
}

QString Report::json(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString Report::json(int value)
{
    return QString::number(value);
}

QString Report::json(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString Report::printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category != QChar::Other_Control && category != QChar::Other_Format &&
            category != QChar::Separator_Line && category != QChar::Separator_Paragraph)
            shown += c;
        else if (c.unicode() < 0x100)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return shown;
}

QString Report::phaseName(BSL_Interface::Phase phase)
{
    switch (phase) {
    case BSL_Interface::Phase::Authenticating:
        return QStringLiteral("authenticating");
    case BSL_Interface::Phase::Erasing:
        return QStringLiteral("erasing");
    case BSL_Interface::Phase::Writing:
        return QStringLiteral("writing");
    case BSL_Interface::Phase::Verifying:
        return QStringLiteral("verifying");
    case BSL_Interface::Phase::Idle:
        break;
    }
    return QStringLiteral("idle");
}
