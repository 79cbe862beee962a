#include "updateworker.h"

#include <QDebug>
#include <QMutexLocker>
#include <QRegularExpression>

namespace {

const char *const LABEL_GET_FIRMWARE_VERSION = "UpdateWorker::getFirmwareVersion";

// Model name for the unit type token of the 11-token version text.
QString modelType(const QString &token)
{
    if (token == QLatin1String("400S"))
        return QStringLiteral("400 S");
    if (token == QLatin1String("400L"))
        return QStringLiteral("400 L");
    if (token == QLatin1String("800S"))
        return QStringLiteral("800 S");
    if (token == QLatin1String("800L"))
        return QStringLiteral("800 L");
    return token;
}

} // namespace

UpdateWorker::UpdateWorker(QObject *parent) : QObject(parent) {}

UpdateWorker::~UpdateWorker() = default;

QStringList UpdateWorker::versionTokens(const QString &text)
{
    return text.split(QRegularExpression(QStringLiteral("\\b")), Qt::KeepEmptyParts);
}

bool UpdateWorker::parseVersionText(const QString &text, QString &model, QString &version)
{
    const QStringList tokens = versionTokens(text);
    qDebug() << "Tokens       :" << tokens;
    qDebug() << "Version      :" << text;

    if (tokens.size() < 4) {
        qDebug() << LABEL_GET_FIRMWARE_VERSION << "No version number found!";
        return false;
    }
    const QString major = tokens.at(1);
    QString minor = tokens.at(3);

    QString name;
    if (major == QLatin1String("49") && minor == QLatin1String("01")) {
        // The first units sent the bare version and no model.
        if (tokens.size() != 7) {
            qDebug() << LABEL_GET_FIRMWARE_VERSION << "49.01 found but incompatible number of tokens!";
            return false;
        }
        name = QStringLiteral("Talvo");
    } else if (major == QLatin1String("52") && minor.toInt(nullptr, 10) >= 2) {
        // From 52.02 on the unit sends its type as two words, such as "400 L".
        if (tokens.size() != 13) {
            qDebug() << LABEL_GET_FIRMWARE_VERSION << "Incompatible number of tokens!";
            return false;
        }
        name = tokens.at(7) + QLatin1Char(' ') + tokens.at(9) + QLatin1Char(' ') + tokens.at(11);
    } else {
        if (tokens.size() != 11) {
            qDebug() << LABEL_GET_FIRMWARE_VERSION << "Incompatible number of tokens!";
            return false;
        }
        name = tokens.at(7) + QLatin1Char(' ') + modelType(tokens.at(9));
    }

    if (minor == QLatin1String("40"))
        minor = QStringLiteral("04");

    model = name;
    version = major + QLatin1Char('.') + minor;
    return true;
}

// No serial layer yet: every request ends with a failed result.
void UpdateWorker::doSearchDevice(int vendor, int product)
{
    Q_UNUSED(vendor)
    Q_UNUSED(product)
    emit result(false);
}

void UpdateWorker::doStopSearching()
{
    QMutexLocker locker(&_mutex);
    _stopSearching = false;
}

void UpdateWorker::doInstallFirmware(const QString &firmware, unsigned int size)
{
    Q_UNUSED(firmware)
    Q_UNUSED(size)
    emit result(false);
}

void UpdateWorker::doProgressUpdate(const unsigned int &progress)
{
    emit progressChanged(progress);
}

void UpdateWorker::doInstallFirmwareResult()
{
    emit result(false);
}
