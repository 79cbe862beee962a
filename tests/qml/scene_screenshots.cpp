// Renders every state of the wizard to PNG files, headless, with the scripted controller:
//   QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software scene_screenshots [--language CODE] <output folder>
// The program's own fonts and pictures come from the bundle, so two runs give the same pictures.
// Fails when a text is elided, runs out of its element or the window, wraps into more lines than
// its element holds, overlaps another text, or has a character that no font can draw; and, given
// the folder of the 96-dpi pictures, when a picture is not that one scaled by QT_FONT_DPI / 96.

#include "languages.h"
#include "scriptedupdatedriver.h"
#include "startup.h"
#include "translation.h"

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
#include <QTextDocument>
#include <QTextLayout>
#include <QTextStream>
#include <QtQml>

#include <functional>

namespace {

const int STEP_TIMEOUT_MS = 5000;
// Where the main button lies in the 768 x 512 window.
const QPoint MAIN_BUTTON(637, 475);
// Share of pixels, in percent, that may differ by more than half the range in a channel from the
// 96-dpi picture once scaled back. Glyphs hinted at another size and the scaling's averaging stay
// below 0.11 % (all states, 120 to 192 dpi); fonts grown in an unscaled window give 0.46 % or more.
const double MAX_DIFFERING_PERCENT = 0.25;

class Walk
{
public:
    Walk(QQuickWindow *window, ScriptedUpdateDriver *driver, const QString &folder,
         const QString &referenceFolder, double scale)
        : _window(window), _driver(driver), _folder(folder), _referenceFolder(referenceFolder), _scale(scale)
    {
    }

    bool failed() const { return _failed; }

    // The one-line text that fills its box the most, of all pictures so far (wrapped ones fill theirs).
    void printTightest() const
    {
        QTextStream(stdout) << "tightest text: \"" << _tightest << "\", " << _tightestShare * 100
                            << " % of its box's width\n";
    }

    void fail(const QString &why)
    {
        QTextStream(stderr) << "scene_screenshots: " << why << "\n";
        _failed = true;
    }

    QObject *object(const char *name) const { return _window->findChild<QObject *>(QLatin1String(name)); }

    void waitUntil(const std::function<bool()> &condition, const QString &what)
    {
        QDeadlineTimer deadline(STEP_TIMEOUT_MS);
        while (!condition()) {
            if (deadline.hasExpired()) {
                fail(QStringLiteral("gave up waiting for ") + what);
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
        QObject *button = object("mainButton");
        waitUntil(
            [&] {
                QVariant ready;
                QMetaObject::invokeMethod(button, "ready", Q_RETURN_ARG(QVariant, ready));
                return ready.toBool();
            },
            QStringLiteral("the button's guard"));
        QTest::mouseClick(_window, Qt::LeftButton, Qt::NoModifier, MAIN_BUTTON);
    }

    // A search that finds no unit, for the given reason; left with the button of its search error.
    void searchError(int failure, const QString &name, const QString &state = QStringLiteral("SEARCH_ERROR"))
    {
        _driver->setSearchFailure(failure);
        const int searches = _driver->count(QStringLiteral("search(true)"));
        press();
        waitForCall(QStringLiteral("search(true)"), searches + 1);
        if (state == QLatin1String("RESTORE"))
            _driver->setUnitPlugged(true); // the search met the unit in its loader
        _driver->finish(false);
        waitForState(state);
        shoot(name);
        if (state == QLatin1String("SEARCH_ERROR"))
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
        // The scene as rendered, not what the display server shows of it: a grab from the screen can
        // still show the frame before when the machine is busy. Offscreen, only the screen has it.
        QImage image = _window->grabWindow();
        if (image.isNull())
            image = _window->screen()->grabWindow(_window->winId()).toImage();
        const QString path = QDir(_folder).filePath(name + QStringLiteral(".png"));
        if (image.isNull() || !image.save(path)) {
            fail(QStringLiteral("could not write ") + path);
            return;
        }
        QTextStream(stdout) << path << "\n";
        checkTexts(_window->contentItem(), name);
        if (!_referenceFolder.isEmpty() && _scale != 1)
            compareWithReference(image, name);
    }

    void checkTexts(QQuickItem *root, const QString &name)
    {
        QList<Drawn> drawn;
        collectTexts(root, 1, false, name, &drawn);
        for (int i = 0; i < drawn.size(); ++i) {
            for (int j = i + 1; j < drawn.size(); ++j) {
                const Drawn &a = drawn[i];
                const Drawn &b = drawn[j];
                if (a.overPage == b.overPage && (a.text || b.text) && a.area.intersects(b.area))
                    fail(name + QStringLiteral(": %1 overlaps %2").arg(describe(a.item), describe(b.item)));
            }
        }
    }

    // What is drawn where, for the overlap check: texts and pictures smaller than the window's
    // half (the frame behind everything is not one), those of the list of languages over the page
    // on a layer of their own.
    struct Drawn
    {
        QQuickItem *item;
        QRectF area;
        bool text;
        bool overPage;
    };

    static QString describe(QQuickItem *item)
    {
        return item->inherits("QQuickText") ? QStringLiteral("\"") + plainText(item) + QStringLiteral("\"")
                                            : QStringLiteral("picture ") + item->objectName();
    }

    static QString plainText(QQuickItem *text)
    {
        const QString written = text->property("text").toString();
        if (!Qt::mightBeRichText(written))
            return written;
        QTextDocument document;
        document.setHtml(written);
        return document.toPlainText();
    }

    // Where the lines of a text are drawn, in the window: one line is as tall as its element (the
    // design gives the font the element's height, and its line box is taller), more lines as tall
    // as they are.
    static QRectF linesOf(QQuickItem *text)
    {
        const qreal width = text->property("contentWidth").toReal();
        const qreal lines = text->property("lineCount").toInt() > 1 ? text->property("contentHeight").toReal()
                                                                    : text->height();
        const int horizontal = text->property("horizontalAlignment").toInt();
        const int vertical = text->property("verticalAlignment").toInt();
        const qreal x = horizontal == Qt::AlignHCenter ? (text->width() - width) / 2
                        : horizontal == Qt::AlignRight ? text->width() - width
                                                       : 0;
        const qreal y = vertical == Qt::AlignVCenter  ? (text->height() - lines) / 2
                        : vertical == Qt::AlignBottom ? text->height() - lines
                                                      : 0;
        // Half a pixel of each side is anti-aliasing that touching neighbours share.
        return text->mapRectToScene(QRectF(x, y, width, lines)).adjusted(0.5, 0.5, -0.5, -0.5);
    }

    void collectTexts(QQuickItem *item, qreal opacity, bool overPage, const QString &name,
                      QList<Drawn> *drawn)
    {
        opacity *= item->opacity();
        if (!item->isVisible() || opacity <= 0)
            return;
        overPage = overPage || item->objectName() == QLatin1String("listLanguages");
        for (QQuickItem *child : item->childItems())
            collectTexts(child, opacity, overPage, name, drawn);
        if (item->inherits("QQuickImage") && item->width() * 2 < _window->width()) {
            drawn->append(
                {item, item->mapRectToScene(item->boundingRect()).adjusted(1, 1, -1, -1), false, overPage});
            return;
        }
        if (!item->inherits("QQuickText") || plainText(item).trimmed().isEmpty())
            return;
        const QString text = plainText(item);
        const QString quoted = name + QStringLiteral(": \"") + text + QStringLiteral("\" ");
        const QRectF window(QPointF(0, 0), _window->size());
        if (item->property("truncated").toBool() ||
            item->property("contentWidth").toReal() > item->width() + 0.5 ||
            !window.contains(item->mapRectToScene(item->boundingRect())))
            fail(quoted + QStringLiteral("is elided or runs out of its element or the window"));
        const QChar missing = missingGlyph(item->property("font").value<QFont>(), text);
        if (!missing.isNull())
            fail(quoted + QStringLiteral("has a character no font draws: U+%1")
                              .arg(missing.unicode(), 4, 16, QLatin1Char('0')));
        drawn->append({item, linesOf(item), true, overPage});
        const qreal share = item->property("contentWidth").toReal() / item->width();
        if (item->property("lineCount").toInt() == 1 && share > _tightestShare) {
            _tightestShare = share;
            _tightest = text;
        }
    }

    // The first character that neither the font nor any font the system falls back to can draw:
    // its glyph is the font's glyph 0, the missing-glyph box.
    static QChar missingGlyph(const QFont &font, const QString &text)
    {
        for (const QChar character : text) {
            if (character.isSpace())
                continue;
            QTextLayout layout(QString(character), font);
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            for (const QGlyphRun &run : layout.glyphRuns()) {
                if (run.glyphIndexes().contains(0))
                    return character;
            }
        }
        return QChar();
    }

    void compareWithReference(const QImage &image, const QString &name)
    {
        const QImage reference = QImage(QDir(_referenceFolder).filePath(name + QStringLiteral(".png")))
                                     .convertToFormat(QImage::Format_RGB32);
        if (reference.isNull() || image.size() != reference.size() * _scale) {
            fail(name + QStringLiteral(": not the 96-dpi picture scaled by ") + QString::number(_scale));
            return;
        }
        const QImage scaled = image.scaled(reference.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                  .convertToFormat(QImage::Format_RGB32);
        int differing = 0;
        for (int y = 0; y < reference.height(); ++y) {
            const auto *a = reinterpret_cast<const QRgb *>(reference.constScanLine(y));
            const auto *b = reinterpret_cast<const QRgb *>(scaled.constScanLine(y));
            for (int x = 0; x < reference.width(); ++x)
                differing += qMax(qMax(qAbs(qRed(a[x]) - qRed(b[x])), qAbs(qGreen(a[x]) - qGreen(b[x]))),
                                  qAbs(qBlue(a[x]) - qBlue(b[x]))) > 128;
        }
        const double percent = 100.0 * differing / (reference.width() * reference.height());
        QTextStream(stdout) << name << ": " << percent << " % of the pixels differ from the 96-dpi picture\n";
        if (percent > MAX_DIFFERING_PERCENT)
            fail(name + QStringLiteral(": differs from the 96-dpi picture scaled"));
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

    // The unit's port comes or goes, and the page shows the text that tells it.
    void plug(bool plugged, const char *text)
    {
        _driver->setUnitPlugged(plugged);
        QObject *shown = object(text);
        waitUntil([&] { return shown->property("visible").toBool(); }, QLatin1String(text));
    }

    void startInstall()
    {
        const int installs = _driver->count(QStringLiteral("install()"));
        press();
        waitForState(QStringLiteral("UPDATE"));
        waitForCall(QStringLiteral("install()"), installs + 1);
    }

    // The installation ends, well or badly: its outcome's page is shot and left with its button.
    void endInstall(bool ok, const QString &name)
    {
        _driver->finish(ok);
        waitForState(ok ? QStringLiteral("UPDATE_SUCCESS") : QStringLiteral("UPDATE_ERROR"));
        shoot(name);
        press();
    }

private:
    QQuickWindow *_window;
    ScriptedUpdateDriver *_driver;
    QString _folder;
    QString _referenceFolder;
    double _scale;
    bool _failed = false;
    QString _tightest;
    qreal _tightestShare = 0;
};

void typeText(QWindow *window, const char *text)
{
    for (; *text; ++text)
        QTest::keyClick(window, *text);
}

} // namespace

int main(int argc, char *argv[])
{
    enableHighDpiScaling();
    QApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    if (arguments.value(0) == QLatin1String("--language")) {
        if (!Languages::apply(arguments.value(1))) {
            QTextStream(stderr) << "scene_screenshots: no translation " << arguments.value(1) << "\n";
            return 1;
        }
        arguments = arguments.mid(2);
    }
    const QString folder = arguments.value(0, QStringLiteral("screenshots"));
    if (!QDir().mkpath(folder)) {
        QTextStream(stderr) << "scene_screenshots: cannot create " << folder << "\n";
        return 1;
    }

    qmlRegisterType<ScriptedUpdateDriver>("Drivers", 1, 0, "UpdateDriver");
    Translation::registerType();
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
                              "timerUpdateStartPostpone", "timerUpdateStatusPostpone", "timerPlugWatch"})
        window->findChild<QObject *>(QLatin1String(timer))->setProperty("interval", 20);

    Walk walk(window, driver, folder, arguments.value(1), qEnvironmentVariableIntValue("QT_FONT_DPI") / 96.0);
    walk.waitUntil([&] { return window->isExposed(); }, QStringLiteral("the window"));
    walk.waitForCall(QStringLiteral("search(false)"), 1);
    walk.shoot(QStringLiteral("01-welcome"));

    driver->setDriverAvailable(false);
    walk.press();
    walk.shoot(QStringLiteral("02-driver-missing"));
    driver->setDocumentsOpen(false);
    walk.object("messageDriverMissing")->setProperty("showDocumentation", true);
    walk.shoot(QStringLiteral("02-driver-missing-not-opened"));
    driver->setDocumentsOpen(true);
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
    // The language choice comes after the main button, then the change log.
    QTest::keyClick(window, Qt::Key_Tab);
    QTest::keyClick(window, Qt::Key_Tab);
    walk.shoot(QStringLiteral("04-device-update-link-focus"));
    driver->setDocumentsOpen(false);
    QTest::keyClick(window, Qt::Key_Return);
    walk.waitUntil([&] { return walk.object("textChangelogFailed")->property("visible").toBool(); },
                   QStringLiteral("textChangelogFailed"));
    walk.shoot(QStringLiteral("04-device-update-changelog-not-opened"));
    driver->setDocumentsOpen(true);
    QTest::keyClick(window, Qt::Key_Tab);

    walk.startInstall();
    driver->report(57);
    walk.shoot(QStringLiteral("05-update-57"));
    window->close();
    walk.shoot(QStringLiteral("05-update-close-refused"));
    driver->report(100);
    walk.endInstall(true, QStringLiteral("06-success-s"));

    walk.findUnit(2, QStringLiteral("Talvo 400 L"), QStringLiteral("/fmw/l/logo.jpg"),
                  QStringLiteral("49.07"), true);
    walk.shoot(QStringLiteral("07-device-update-l"));
    walk.startInstall();
    driver->report(100);
    walk.endInstall(true, QStringLiteral("08-success-l"));

    walk.searchError(ScriptedUpdateDriver::SearchFailureUnknown, QStringLiteral("09-search-error"));
    walk.searchError(ScriptedUpdateDriver::SearchNoAccess, QStringLiteral("09-search-error-no-access"));
    walk.searchError(ScriptedUpdateDriver::SearchPortBusy, QStringLiteral("09-search-error-busy"));
    walk.searchError(ScriptedUpdateDriver::SearchNotUnderstood,
                     QStringLiteral("09-search-error-not-understood"));
    driver->setSearchFailure(ScriptedUpdateDriver::SearchFailureUnknown);

    walk.findUnit(1, QStringLiteral("Talvo 400 S"), QStringLiteral("/fmw/s/logo.jpg"),
                  QStringLiteral("49.09"), false);
    walk.shoot(QStringLiteral("10-device-reinstall"));
    walk.startInstall();
    walk.endInstall(false, QStringLiteral("11-update-error"));

    walk.findUnit(1, QStringLiteral("Talvo 400 S"), QStringLiteral("/fmw/s/logo.jpg"),
                  QStringLiteral("52.01"), false);
    // The text cursor blinks: hide it so that the picture does not depend on the moment.
    walk.object("textInputDowngradePassword")->setProperty("cursorVisible", false);
    walk.shoot(QStringLiteral("12-device-downgrade"));
    typeText(window, "Mor");
    walk.object("textInputDowngradePassword")->setProperty("cursorVisible", false);
    walk.shoot(QStringLiteral("13-device-downgrade-typing"));
    QTest::keyClick(window, Qt::Key_Return);
    walk.shoot(QStringLiteral("13-device-downgrade-wrong"));
    typeText(window, "we");
    walk.shoot(QStringLiteral("14-device-downgrade-verified"));
    walk.startInstall();
    walk.endInstall(true, QStringLiteral("14-success-after-downgrade"));

    // The device page with the unit pulled out, plugged in again; the installation failing with the
    // unit pulled out, and after the erase.
    walk.findUnit(1, QStringLiteral("Talvo 400 S"), QStringLiteral("/fmw/s/logo.jpg"),
                  QStringLiteral("49.07"), true);
    walk.plug(false, "textDeviceFoundUnplugged");
    walk.shoot(QStringLiteral("18-device-unplugged"));
    driver->setUnitPlugged(true);
    walk.waitUntil([&] { return driver->active(); }, QStringLiteral("the search after the replug"));
    driver->finish(true);
    walk.waitForState(QStringLiteral("DEVICE_FOUND"));
    walk.startInstall();
    driver->setUnitPlugged(false);
    walk.endInstall(false, QStringLiteral("19-update-error-unplugged"));
    driver->setUnitPlugged(true);
    walk.waitUntil([&] { return driver->active(); }, QStringLiteral("the search after the replug"));
    driver->finish(true);
    walk.waitForState(QStringLiteral("DEVICE_FOUND"));
    walk.startInstall();
    driver->setErased(true);
    driver->setUnitPlugged(false);
    walk.endInstall(false, QStringLiteral("19-update-error-erased-unplugged"));
    driver->setUnitPlugged(true);
    walk.waitUntil([&] { return driver->active(); }, QStringLiteral("the search after the replug"));
    driver->finish(true);
    walk.waitForState(QStringLiteral("DEVICE_FOUND"));
    walk.startInstall();
    walk.endInstall(false, QStringLiteral("19-update-error-erased"));
    driver->setErased(false);

    // The restore page: a unit in its loader, the family that a journal names, the unit pulled out.
    walk.searchError(ScriptedUpdateDriver::SearchUnitInLoader, QStringLiteral("15-restore-pick"),
                     QStringLiteral("RESTORE"));
    walk.object("pageRestore")->setProperty("knownModel", QStringLiteral("Talvo 400 L"));
    walk.object("pageRestore")->setProperty("family", 2);
    walk.shoot(QStringLiteral("17-restore-journal"));
    driver->setUnitPlugged(true);
    walk.waitForCall(QStringLiteral("isUnitPlugged()"), driver->count(QStringLiteral("isUnitPlugged()")) + 1);
    walk.plug(false, "textRestoreUnplugged");
    walk.shoot(QStringLiteral("16-restore-unplugged"));
    driver->setUnitPlugged(true);
    walk.waitForState(QStringLiteral("SEARCH"));
    driver->finish(false);
    walk.waitForState(QStringLiteral("RESTORE"));
    walk.object("pageRestore")->setProperty("family", 2);
    walk.press();
    walk.waitForState(QStringLiteral("UPDATE"));
    driver->report(42);
    walk.shoot(QStringLiteral("20-restore-42"));
    walk.endInstall(false, QStringLiteral("21-restore-error"));

    // The list of languages, open over the welcome page.
    QMetaObject::invokeMethod(walk.object("languageChoice"), "openList");
    walk.shoot(QStringLiteral("22-languages"));

    walk.printTightest();
    return walk.failed() ? 1 : 0;
}
