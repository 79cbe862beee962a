// Fuzz target: the unit's version text. The text is cut at word boundaries, turned into the model
// name and the version, the model name into the family, and the version compared with the family's
// firmware, as the worker and the controller do with a text that a unit sends.
// Checked: the tokens put together give the text back; an accepted text gives a non-empty model
// name and a version made of its second and fourth token; the controller answers without trouble.

#include "logcapture.h"
#include "updatedriver.h"
#include "updateworker.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace {

UpdateDriver *driver = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QuietLog quiet(LogCapture::PassOn::Nothing);
    static QCoreApplication app(*argc, *argv);
    // One controller for the whole run: it owns a thread, so one per input would be slow.
    driver = new UpdateDriver;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QStringList tokens = UpdateWorker::versionTokens(text);
    if (tokens.join(QString()) != text)
        abort();

    QString model = QStringLiteral("unchanged");
    QString version = QStringLiteral("unchanged");
    if (UpdateWorker::parseVersionText(text, model, version)) {
        if (model.isEmpty() || tokens.size() < 4)
            abort();
        const QString minor = tokens.at(3) == QLatin1String("40") ? QStringLiteral("04") : tokens.at(3);
        if (version != tokens.at(1) + QLatin1Char('.') + minor)
            abort();
    } else if (model != QLatin1String("unchanged") || version != QLatin1String("unchanged")) {
        abort();
    }

    // The controller with this identity: family, catalogue entry and version comparison.
    driver->versionHandle(model, version);
    const int type = driver->modelType();
    if (type < 0 || type > 2)
        abort();
    const bool update = driver->isUpdateAvailable();
    if (update && driver->versionNew().isEmpty())
        abort();
    driver->modelPicture();
    driver->versionCurrent();
    driver->modelName();

    // The text itself as model name and installed version: any text a unit might send.
    driver->versionHandle(text, text);
    if (driver->isUpdateAvailable() && tokens.size() != 5)
        abort();
    return 0;
}
