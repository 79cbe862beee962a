// Renders every state of the wizard to PNG files, headless, with the scripted controller:
//   QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software scene_screenshots <output folder>
// The program's own fonts and pictures come from the bundle, so two runs give the same pictures.

#include "scriptedupdatedriver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QTest>
#include <QTextStream>
#include <QtQml>

#include <functional>

namespace {

const int STEP_TIMEOUT_MS = 5000;
// Where the main button lies in the 768 x 512 window.
const QPoint MAIN_BUTTON(637, 475);

class Walk
{
public:
    Walk(QQuickWindow *window, ScriptedUpdateDriver *driver, const QString &folder)
        : _window(window), _driver(driver), _folder(folder)
    {
    }

    bool failed() const { return _failed; }

    QObject *object(const char *name) const { return _window->findChild<QObject *>(QLatin1String(name)); }

    void waitUntil(const std::function<bool()> &condition, const QString &what)
    {
        QDeadlineTimer deadline(STEP_TIMEOUT_MS);
        while (!condition()) {
            if (deadline.hasExpired()) {
                QTextStream(stderr) << "scene_screenshots: gave up waiting for " << what << "\n";
                _failed = true;
                return;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }

    void waitForState(const QString &state)
    {
        QObject *frame = object("mainFrame");
        waitUntil([&] { return frame->property("state").toString() == state; }, state);
    }

    void waitForCall(const QString &call, int count)
    {
        waitUntil([&] { return _driver->count(call) >= count; }, call);
    }

    void press()
    {
        QObject *guard = object("timerMainButtonGuard");
        waitUntil([&] { return !guard->property("running").toBool(); }, QStringLiteral("the button's guard"));
        QTest::mouseClick(_window, Qt::LeftButton, Qt::NoModifier, MAIN_BUTTON);
    }

    // A search that finds no unit, for the given reason.
    void searchError(int failure, const QString &name)
    {
        _driver->setSearchFailure(failure);
        const int searches = _driver->count(QStringLiteral("search(true)"));
        press();
        waitForCall(QStringLiteral("search(true)"), searches + 1);
        _driver->finish(false);
        waitForState(QStringLiteral("SEARCH_ERROR"));
        shoot(name);
        press();
    }

    // Renders the next frame and writes it as <name>.png.
    void shoot(const QString &name)
    {
        bool swapped = false;
        auto connection = QObject::connect(_window, &QQuickWindow::frameSwapped, [&] { swapped = true; });
        _window->update();
        waitUntil([&] { return swapped; }, QStringLiteral("a frame for ") + name);
        QObject::disconnect(connection);
        const QImage image = _window->screen()->grabWindow(_window->winId()).toImage();
        const QString path = QDir(_folder).filePath(name + QStringLiteral(".png"));
        if (image.isNull() || !image.save(path)) {
            QTextStream(stderr) << "scene_screenshots: could not write " << path << "\n";
            _failed = true;
            return;
        }
        QTextStream(stdout) << path << "\n";
    }

    // From WELCOME to the device page of the given unit.
    void findUnit(int type, const QString &name, const QString &picture, const QString &current,
                  bool updateAvailable)
    {
        _driver->setUnit(type, name, picture, current, QStringLiteral("49.09"));
        _driver->setUpdateAvailable(updateAvailable);
        const int searches = _driver->count(QStringLiteral("search(true)"));
        press();
        waitForState(QStringLiteral("SEARCH"));
        waitForCall(QStringLiteral("search(true)"), searches + 1);
        _driver->finish(true);
        waitForState(QStringLiteral("DEVICE_FOUND"));
    }

    void startInstall()
    {
        const int installs = _driver->count(QStringLiteral("install()"));
        press();
        waitForState(QStringLiteral("UPDATE"));
        waitForCall(QStringLiteral("install()"), installs + 1);
    }

private:
    QQuickWindow *_window;
    ScriptedUpdateDriver *_driver;
    QString _folder;
    bool _failed = false;
};

void typeText(QWindow *window, const char *text)
{
    for (; *text; ++text)
        QTest::keyClick(window, *text);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    if (!QDir().mkpath(folder)) {
        QTextStream(stderr) << "scene_screenshots: cannot create " << folder << "\n";
        return 1;
    }

    qmlRegisterType<ScriptedUpdateDriver>("Drivers", 1, 0, "UpdateDriver");
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    auto *window =
        engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    auto *driver =
        window ? window->findChild<ScriptedUpdateDriver *>(QStringLiteral("updateDriver")) : nullptr;
    if (!driver) {
        QTextStream(stderr) << "scene_screenshots: the main scene did not load\n";
        return 1;
    }
    // The pictures do not depend on how long the wizard waits.
    for (const char *timer : {"timerSearchStartPostpone", "timerSearchStatusPostpone",
                              "timerUpdateStartPostpone", "timerUpdateStatusPostpone"})
        window->findChild<QObject *>(QLatin1String(timer))->setProperty("interval", 20);

    Walk walk(window, driver, folder);
    walk.waitUntil([&] { return window->isExposed(); }, QStringLiteral("the window"));
    walk.waitForCall(QStringLiteral("search(false)"), 1);
    walk.shoot(QStringLiteral("01-welcome"));

    driver->setDriverAvailable(false);
    walk.press();
    walk.shoot(QStringLiteral("02-driver-missing"));
    walk.object("messageDriverMissing")->setProperty("showDocumentation", true);
    driver->setDriverAvailable(true);

    // The ring is held at the angle it starts from.
    driver->setUnit(1, QStringLiteral("Talvo 400 S"), QStringLiteral("/fmw/s/logo.jpg"),
                    QStringLiteral("49.07"), QStringLiteral("49.09"));
    walk.press();
    walk.waitForState(QStringLiteral("SEARCH"));
    walk.object("animationSearch")->setProperty("paused", true);
    walk.object("imageSearch")->setProperty("rotation", 0);
    walk.shoot(QStringLiteral("03-search"));
    walk.object("animationSearch")->setProperty("paused", false);
    walk.waitForCall(QStringLiteral("search(true)"), 1);
    driver->finish(true);
    walk.waitForState(QStringLiteral("DEVICE_FOUND"));
    walk.shoot(QStringLiteral("04-device-update"));
    QTest::keyClick(window, Qt::Key_Tab);
    walk.shoot(QStringLiteral("04-device-update-link-focus"));
    QTest::keyClick(window, Qt::Key_Tab);

    walk.startInstall();
    driver->report(57);
    walk.shoot(QStringLiteral("05-update-57"));
    window->close();
    walk.shoot(QStringLiteral("05-update-close-refused"));
    driver->report(100);
    driver->finish(true);
    walk.waitForState(QStringLiteral("UPDATE_SUCCESS"));
    walk.shoot(QStringLiteral("06-success-s"));
    walk.press();

    walk.findUnit(2, QStringLiteral("Talvo 400 L"), QStringLiteral("/fmw/l/logo.jpg"),
                  QStringLiteral("49.07"), true);
    walk.shoot(QStringLiteral("07-device-update-l"));
    walk.startInstall();
    driver->report(100);
    driver->finish(true);
    walk.waitForState(QStringLiteral("UPDATE_SUCCESS"));
    walk.shoot(QStringLiteral("08-success-l"));
    walk.press();

    walk.searchError(ScriptedUpdateDriver::SearchFailureUnknown, QStringLiteral("09-search-error"));
    walk.searchError(ScriptedUpdateDriver::SearchNoAccess, QStringLiteral("09-search-error-no-access"));
    walk.searchError(ScriptedUpdateDriver::SearchPortBusy, QStringLiteral("09-search-error-busy"));
    walk.searchError(ScriptedUpdateDriver::SearchUnitInLoader, QStringLiteral("09-search-error-in-loader"));

    walk.findUnit(1, QStringLiteral("Talvo 400 S"), QStringLiteral("/fmw/s/logo.jpg"),
                  QStringLiteral("49.09"), false);
    walk.shoot(QStringLiteral("10-device-reinstall"));
    walk.startInstall();
    driver->finish(false);
    walk.waitForState(QStringLiteral("UPDATE_ERROR"));
    walk.shoot(QStringLiteral("11-update-error"));
    walk.press();

    walk.findUnit(1, QStringLiteral("Talvo 400 S"), QStringLiteral("/fmw/s/logo.jpg"),
                  QStringLiteral("52.01"), false);
    // The text cursor blinks: hide it so that the picture does not depend on the moment.
    walk.object("textInputDowngradePassword")->setProperty("cursorVisible", false);
    walk.shoot(QStringLiteral("12-device-downgrade"));
    typeText(window, "Mor");
    walk.object("textInputDowngradePassword")->setProperty("cursorVisible", false);
    walk.shoot(QStringLiteral("13-device-downgrade-typing"));
    typeText(window, "we");
    walk.shoot(QStringLiteral("14-device-downgrade-verified"));

    return walk.failed() ? 1 : 0;
}
