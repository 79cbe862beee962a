#include "startup.h"

#include "accessibleprogressbar.h"
#include "debuglog.h"
#include "failurenotice.h"
#include "filecopy.h"
#include "languages.h"
#include "logcategories.h"
#include "translation.h"
#include "updatedriver.h"
#include "userfolder.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QStringList>
#include <QTemporaryFile>
#include <QUrl>
#include <QtQml>

#include <algorithm>

namespace {

const char *const DESCRIPTORS[] = {"QtQuick/Controls/qmldir", "QtQuick/Layouts/qmldir",
                                   "QtQuick/Window.2/qmldir", "QtQuick.2/qmldir"};

#if defined(Q_OS_WIN) && defined(TALVO_GRAPHICS_RUNTIME)
const char *const GRAPHICS_LIBRARIES[] = {"d3dcompiler_47.dll", "libEGL.dll", "libGLESv2.dll"};
#endif

// True when the descriptor is missing, or a strict beginning (possibly empty) of the bundled one.
bool descriptorNeedsWriting(const QString &descriptor)
{
    QFileInfo info(descriptor);
    if (!info.exists())
        return true;
    QFile existing(descriptor);
    QFile bundled(QStringLiteral(":/imp/") + descriptor);
    if (!info.isFile() || !existing.open(QIODevice::ReadOnly) || !bundled.open(QIODevice::ReadOnly))
        return false;
    const QByteArray written = existing.readAll();
    const QByteArray complete = bundled.readAll();
    return written.size() < complete.size() && complete.startsWith(written);
}

// The value of the first `--name VALUE` or `--name=VALUE` among the arguments; empty when not
// given. An option without a value (last, or before another option) and one given again are told
// of in `warning`, and the window starts with the first value given, as if the rest were not there.
QString optionValue(const QStringList &arguments, const QString &name, QString *warning)
{
    QStringList values;
    bool valueMissing = false;
    for (int i = 1; i < arguments.size(); ++i) {
        QString value;
        if (arguments[i] == name) {
            value = arguments.value(i + 1);
            if (value.startsWith(QLatin1Char('-')))
                value.clear();
            else
                ++i;
        } else if (arguments[i].startsWith(name + QLatin1Char('='))) {
            value = arguments[i].mid(name.size() + 1);
        } else {
            continue;
        }
        valueMissing = valueMissing || value.isEmpty();
        if (!value.isEmpty())
            values << value;
    }
    QStringList words;
    if (valueMissing)
        words << QStringLiteral("%1 needs a value").arg(name);
    if (values.size() > 1)
        words << QStringLiteral("%1 is given more than once: %2 is taken, %3 is not")
                     .arg(name, values.first(), values.mid(1).join(QStringLiteral(", ")));
    *warning = words.join(QStringLiteral("; "));
    return values.value(0);
}

bool workingFolderIsWritable()
{
    // Permission bits do not tell (Windows ACLs, read-only mounts): try it.
    QTemporaryFile probe(QStringLiteral("TalvoUpdater-XXXXXX.tmp"));
    return probe.open();
}

// Chooses the software scene graph before any window exists when no OpenGL context of version 2
// or later can be had (the scene graph's minimum: Windows' own GDI renderer in a virtual machine
// or a remote session offers 1.1), unless the user has chosen a backend. On Windows without the
// ANGLE runtime the window is always drawn by the software renderer: the fixed 2D window needs no
// more, and it depends on no graphics driver (under wine it also started sooner and took less
// processor time and memory than OpenGL did).
void chooseSceneGraphBackend()
{
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") || !qEnvironmentVariableIsEmpty("QMLSCENE_DEVICE"))
        return;
#if defined(Q_OS_WIN) && !defined(TALVO_GRAPHICS_RUNTIME)
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
#else
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (context.create() && context.makeCurrent(&surface)) {
        const QSurfaceFormat format = context.format();
        context.doneCurrent();
        if (format.majorVersion() >= 2)
            return;
        qWarning().nospace() << "OpenGL " << format.majorVersion() << '.' << format.minorVersion()
                             << " only: the window is drawn by the software renderer";
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
        return;
    }
    qWarning() << "No OpenGL context: the window is drawn by the software renderer";
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
#endif
}

int failToStart(const QString &reason)
{
    qCritical().noquote() << reason;
    FailureNotice::show(QStringLiteral("TalvoUpdater").toStdWString(), reason.toStdWString());
    return -1;
}

} // namespace

void extractFile(QString fileName, QString osPath, QString qrcPath)
{
    copyFileByLines(QStringLiteral(":/") + qrcPath + fileName, osPath + fileName);
}

bool createFiles()
{
    extractFile("TalvoUpdater.zip", "", "");

    // A descriptor is written where it is missing or cut short by a start that ended while writing
    // it; one edited by hand stays as it is.
    for (const char *descriptor : DESCRIPTORS) {
        if (descriptorNeedsWriting(QLatin1String(descriptor))) {
            QDir().mkpath(QFileInfo(QLatin1String(descriptor)).path());
            extractFile(descriptor, "", "imp/");
        }
    }
    for (const char *descriptor : DESCRIPTORS) {
        if (!QFileInfo(QLatin1String(descriptor)).isFile()) {
            qWarning().noquote() << "Cannot write" << QDir::current().absoluteFilePath(descriptor);
            return false;
        }
    }

#if defined(Q_OS_WIN) && defined(TALVO_GRAPHICS_RUNTIME)
    // The graphics runtime serves the Windows graphics stack only, and only a Qt built with ANGLE.
    for (const char *library : GRAPHICS_LIBRARIES)
        extractFile(library, "", "egl/");
    for (const char *library : GRAPHICS_LIBRARIES) {
        if (!QFile::exists(library))
            return false;
    }
#endif
    return true;
}

bool provideRuntimeFiles(bool userFolderOnly)
{
    if (!userFolderOnly) {
        if (workingFolderIsWritable() && createFiles())
            return true;
        qWarning().noquote() << "Cannot use the working folder" << QDir::currentPath()
                             << "for the runtime files; using the per-user folder";
    }
    // Relative paths, the controller's copies among them, resolve in the folder chosen here.
    const QString folder = UserFolder::path();
    if (folder.isEmpty() || !QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
        qWarning().noquote() << "Cannot use the per-user folder" << folder;
        return false;
    }
    return createFiles();
}

void prepareImportPaths(QQmlEngine &engine)
{
#ifndef QT_STATIC
    // The descriptors name their plugins by class name, which only a statically linked Qt
    // resolves. With a shared Qt, descriptors in the program's own folder (which the engine
    // searches first) would hide the installed modules, so that folder is left out.
    const QString appDir = QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath();
    QStringList paths = engine.importPathList();
    paths.erase(std::remove_if(paths.begin(), paths.end(),
                               [&](const QString &path) {
                                   return !path.startsWith(QLatin1String("qrc:")) &&
                                          QFileInfo(path).canonicalFilePath() == appDir;
                               }),
                paths.end());
    engine.setImportPathList(paths);
#else
    Q_UNUSED(engine)
#endif
}

bool openWithDesktop(const QString &absolutePath)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(absolutePath));
}

void enableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

namespace {

// Why the runtime files could not be written, for the user.
QString runtimeFilesFailure()
{
    const QString userFolder = UserFolder::path().isEmpty()
                                   ? QStringLiteral("a per-user folder (%1)").arg(UserFolder::whyNone())
                                   : QDir::toNativeSeparators(UserFolder::path());
    return QStringLiteral("TalvoUpdater cannot start: its runtime files can be written neither into the "
                          "working folder nor into %1.")
        .arg(userFolder);
}

// --language first, then the choice kept from the window, then the system's languages.
// A slip on the command line (twice, no value) is said in the log and on standard error; the
// window still starts, with the first language given.
void applyStartLanguage()
{
    QString optionWarning, languageWarning;
    const QString language = Languages::atStart(
        optionValue(QCoreApplication::arguments(), QStringLiteral("--language"), &optionWarning),
        &languageWarning);
    for (const QString &warning : {optionWarning, languageWarning}) {
        if (!warning.isEmpty())
            qCWarning(lcStartup).noquote() << warning;
    }
    if (!Languages::apply(language))
        qCWarning(lcStartup) << "The translation" << language
                             << "could not be loaded: the window speaks English";
    qCDebug(lcStartup).noquote() << "Language:" << Languages::current();
}

// The scene types and the controller's defaults for the window.
void registerSceneTypes()
{
    Translation::registerType();
    UpdateDriver::setDocumentOpener(&openWithDesktop);
    // The window reads each of the loader's replies by its length and ends with the loader's CRC
    // check of the image (a loader without it still gets its image, and no check is claimed).
    UpdateDriver::setFastRepliesByDefault(true);
    qmlRegisterType<UpdateDriver>("Drivers", 1, 0, "UpdateDriver");
    installAccessibleProgressBar();
}

// Loads the main scene into the engine: its window, or null with the engine's complaints.
QQuickWindow *loadWindow(QQmlApplicationEngine &engine, QStringList *loadErrors)
{
    prepareImportPaths(engine);
    const QMetaObject::Connection collectErrors =
        QObject::connect(&engine, &QQmlEngine::warnings, [loadErrors](const QList<QQmlError> &warnings) {
            for (const QQmlError &warning : warnings)
                *loadErrors << warning.toString();
        });
    engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    QObject::disconnect(collectErrors);
    return engine.rootObjects().isEmpty() ? nullptr
                                          : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
}

// Runs the event loop for the window; a scene graph error ends it with -1.
int runWindow(QQuickWindow *window, QApplication *application)
{
    // Connected, the error no longer aborts the process: the window stays blank, so leave.
    QObject::connect(window, &QQuickWindow::sceneGraphError, application,
                     [](QQuickWindow::SceneGraphError, const QString &message) {
                         failToStart(QStringLiteral("TalvoUpdater cannot draw its window: ") + message);
                         // Queued: the error may come before the event loop runs.
                         QMetaObject::invokeMethod(
                             qApp, [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
                     });
    return application->exec();
}

} // namespace

int runTalvoUpdater(int &argc, char **argv)
{
    DebugLog::install();
    DebugLog::setVerbose(true);
    QCoreApplication::setOrganizationName(QLatin1String(UserFolder::ORGANIZATION));
    QCoreApplication::setApplicationName(QLatin1String(UserFolder::APPLICATION));
    enableHighDpiScaling();

    auto *application = new QApplication(argc, argv);
    DebugLog::openRunLog(QLatin1String(UserFolder::APPLICATION));

    if (!provideRuntimeFiles(QCoreApplication::arguments().contains(QLatin1String("--user-folder")))) {
        qCDebug(lcStartup) << "createFiles() failed!";
        const int exitCode = failToStart(runtimeFilesFailure());
        delete application;
        return exitCode;
    }

    // Already registered at load time; a second registration is ignored.
    Q_INIT_RESOURCE(TalvoUpdater);
    applyStartLanguage();
    registerSceneTypes();

    chooseSceneGraphBackend();
    auto *engine = new QQmlApplicationEngine();
    QStringList loadErrors;
    QQuickWindow *window = loadWindow(*engine, &loadErrors);
    int exitCode = -1;
    if (window)
        exitCode = runWindow(window, application);
    else
        exitCode =
            failToStart(QStringLiteral("TalvoUpdater cannot start: its window could not be loaded.\n") +
                        loadErrors.join(QLatin1Char('\n')));

    delete engine;
    delete application;
    return exitCode;
}
