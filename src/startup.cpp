#include "startup.h"

#include "filecopy.h"
#include "updatedriver.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QStringList>
#include <QUrl>
#include <QtQml>

#include <algorithm>

namespace {

const char *const DESCRIPTORS[] = {"QtQuick/Controls/qmldir", "QtQuick/Layouts/qmldir",
                                   "QtQuick/Window.2/qmldir", "QtQuick.2/qmldir"};

#ifdef Q_OS_WIN
const char *const GRAPHICS_LIBRARIES[] = {"d3dcompiler_47.dll", "libEGL.dll", "libGLESv2.dll"};
#endif

} // namespace

void extractFile(QString fileName, QString osPath, QString qrcPath)
{
    copyFileByLines(QStringLiteral(":/") + qrcPath + fileName, osPath + fileName);
}

bool createFiles()
{
    QDir here;
    extractFile("TalvoUpdater.zip", "", "");

    if (!QDir("QtQuick").exists()) {
        here.mkdir("QtQuick");
        here.mkdir("QtQuick/Controls");
        extractFile("QtQuick/Controls/qmldir", "", "imp/");
        here.mkdir("QtQuick/Layouts");
        extractFile("QtQuick/Layouts/qmldir", "", "imp/");
        here.mkdir("QtQuick/Window.2");
        extractFile("QtQuick/Window.2/qmldir", "", "imp/");
    }
    if (!QDir("QtQuick.2").exists()) {
        here.mkdir("QtQuick.2");
        extractFile("QtQuick.2/qmldir", "", "imp/");
    }
    for (const char *descriptor : DESCRIPTORS) {
        if (!QFile::exists(descriptor))
            return false;
    }

#ifdef Q_OS_WIN
    // The graphics runtime serves the Windows graphics stack only.
    for (const char *library : GRAPHICS_LIBRARIES)
        extractFile(library, "", "egl/");
    for (const char *library : GRAPHICS_LIBRARIES) {
        if (!QFile::exists(library))
            return false;
    }
#endif
    return true;
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

void enableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

int runTalvoUpdater(int &argc, char **argv)
{
    enableHighDpiScaling();
    auto *application = new QApplication(argc, argv);

    if (!createFiles()) {
        qDebug() << "createFiles() failed!";
        delete application;
        return -1;
    }

    // Already registered at load time; a second registration is ignored.
    Q_INIT_RESOURCE(TalvoUpdater);

    qmlRegisterType<UpdateDriver>("Drivers", 1, 0, "UpdateDriver");

    auto *engine = new QQmlApplicationEngine();
    prepareImportPaths(*engine);
    engine->load(QUrl(QStringLiteral("qrc:/qml/main.qml")));

    const int exitCode = application->exec();

    delete engine;
    delete application;
    return exitCode;
}
