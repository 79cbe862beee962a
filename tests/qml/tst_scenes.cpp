#include "scriptedupdatedriver.h"
#include "translation.h"

#include <QQmlEngine>
#include <QtQml>
#include <QtQuickTest>

// The wizard's scenes, straight from the bundle, against a scripted controller.
class SceneSetup : public QObject
{
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine *)
    {
        qmlRegisterType<ScriptedUpdateDriver>("Drivers", 1, 0, "UpdateDriver");
        Translation::registerType();
    }
};

QUICK_TEST_MAIN_WITH_SETUP(scenes, SceneSetup)

#include "tst_scenes.moc"
