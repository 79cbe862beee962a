#include "startup.h"
#include "updatedriver.h"

#include <QApplication>
#include <QDebug>
#include <QQmlApplicationEngine>
#include <QUrl>
#include <QtQml>

int main(int argc, char *argv[])
{
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
