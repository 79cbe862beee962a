// The resource collection: every entry reachable, stored as intended, and of the form its
// readers rely on (firmware images, change logs, pictures, fonts, documents, descriptors).

#include "startup.h"
#include "targetinfo.h"
#include "testimage.h"
#include "updatedriver.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlFile>
#include <QRegularExpression>
#include <QResource>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

// How the build must store an entry: fixed for everything we make ourselves; the scenes are
// written elsewhere, so for them only the rule itself is checked.
enum class Storage
{
    Plain,
    Zlib
};
Q_DECLARE_METATYPE(Storage)

namespace {

// Every path of the tree but the Windows-only graphics libraries.
const QStringList kTree = {
    "/TalvoUpdater.zip",
    "/doc/Instructions Windows - Follow those steps.pdf",
    "/fmw/l/changelog.txt",
    "/fmw/l/image.txt",
    "/fmw/l/logo.jpg",
    "/fmw/s/changelog.txt",
    "/fmw/s/image.txt",
    "/fmw/s/logo.jpg",
    "/font/DINOT-Black.otf",
    "/font/DINOT-Bold.otf",
    "/font/DINOT-Light.otf",
    "/font/DINOT-Medium.otf",
    "/font/DINOT-Regular.otf",
    "/img/main_frame.png",
    "/img/scanning.jpg",
    "/img/status_error.jpg",
    "/img/status_success.jpg",
    "/img/step_1.jpg",
    "/img/step_2.jpg",
    "/img/talvo.jpg",
    "/imp/QtQuick.2/qmldir",
    "/imp/QtQuick/Controls/qmldir",
    "/imp/QtQuick/Layouts/qmldir",
    "/imp/QtQuick/Window.2/qmldir",
};

const QStringList kScenesRequired = {"main.qml"};

QByteArray readEntry(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QStringList sceneEntries()
{
    QStringList scenes = QDir(":/qml").entryList(QDir::Files, QDir::Name);
    for (QString &scene : scenes)
        scene.prepend("/qml/");
    return scenes;
}

// rcc's rule: compressed when zlib (with the 4-byte length in front) saves at least 70 %.
bool worthCompressing(const QByteArray &data)
{
    if (data.isEmpty())
        return false;
    const QByteArray packed = qCompress(data, 6);
    const int saving = int(100.0 * (data.size() - packed.size()) / data.size());
    return saving >= 70;
}

struct TiTxtSection
{
    quint32 address = 0;
    QByteArray data;
};

// The sections of an image in the carried form, in the order of their addresses; returns what is
// wrong with the form, empty when nothing is.
QString parseTiTxt(const QByteArray &text, QVector<TiTxtSection> *sections)
{
    const QString error = TestImage::carriedFormError(text);
    if (error.isEmpty()) {
        const TestImage::Sections parsed = TestImage::parse(text);
        for (auto it = parsed.cbegin(); it != parsed.cend(); ++it)
            sections->append({it.key(), it.value()});
    }
    return error;
}

quint16 word(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void everyEntryIsReadableByPathAndByUrl_data();
    void everyEntryIsReadableByPathAndByUrl();
    void theTreeHoldsNothingElse();
    void picturesAndFontsResolveFromASceneLikeTheScenesUseThem_data();
    void picturesAndFontsResolveFromASceneLikeTheScenesUseThem();

    void entriesAreStoredAsIntended_data();
    void entriesAreStoredAsIntended();
    void scenesAreCompressedExactlyWhenItSavesSeventyPercent();
    void scenesAreTheProgramsOwnSources();

    void firmwareImageHasTheCarriedForm_data();
    void firmwareImageHasTheCarriedForm();
    void firmwareVectorsPointIntoTheCode_data();
    void firmwareVectorsPointIntoTheCode();
    void firmwareImagesDiffer();

    void changelogHasBannerAndSections_data();
    void changelogHasBannerAndSections();

    void pictureHasItsSizeAndKind_data();
    void pictureHasItsSizeAndKind();
    void windowFrameHasItsBands();
    void scanningRingChangesBrightnessAlongItsCircumference();

    void fontRegistersItsOwnFamily_data();
    void fontRegistersItsOwnFamily();

    void instructionsAreAFourPagePdf();
    void descriptorIsByteForByte_data();
    void descriptorIsByteForByte();
    void sourceArchiveIsADeflateZipOfTheSources();

    void controllerCopiesIntoTheWorkingFolder_data();
    void controllerCopiesIntoTheWorkingFolder();

private:
    QQmlEngine _engine;
};

void TestResources::initTestCase()
{
    // Start-up's descriptors may lie in the test's folder; they must not shadow the modules.
    prepareImportPaths(_engine);
    QVERIFY2(QFile::exists(":/qml/main.qml"), "the collection is not registered");
}

void TestResources::everyEntryIsReadableByPathAndByUrl_data()
{
    QTest::addColumn<QString>("path");
    for (const QString &path : kTree + sceneEntries())
        QTest::newRow(qPrintable(path)) << path;
}

void TestResources::everyEntryIsReadableByPathAndByUrl()
{
    QFETCH(QString, path);
    const QByteArray byPath = readEntry(":" + path);
    QVERIFY2(!byPath.isEmpty(), "not readable with a leading colon");

    // As a scene names it: a path from the root, resolved against the scene's own URL.
    const QUrl url = QUrl("qrc:/qml/main.qml").resolved(QUrl(path));
    QCOMPARE(url.scheme(), QString("qrc"));
    QQmlFile file(&_engine, url);
    QVERIFY2(file.isReady(), qPrintable(file.error()));
    QCOMPARE(file.dataByteArray(), byPath);
    QCOMPARE(readEntry(QQmlFile::urlToLocalFileOrQrc(url)), byPath);
}

void TestResources::theTreeHoldsNothingElse()
{
    QSet<QString> expected(kTree.begin(), kTree.end());
    for (const QString &scene : sceneEntries())
        expected.insert(scene);
    for (const QString &scene : kScenesRequired)
        QVERIFY2(expected.contains("/qml/" + scene), qPrintable(scene));

    QSet<QString> found;
    const QStringList tops = {"doc", "egl", "fmw", "font", "img", "imp", "qml"};
    for (const QString &top : tops) {
        QDirIterator it(":/" + top, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.insert(it.next().mid(1));
    }
    found.insert("/TalvoUpdater.zip");
#ifdef Q_OS_WIN
    found.remove("/egl/d3dcompiler_47.dll");
    found.remove("/egl/libEGL.dll");
    found.remove("/egl/libGLESv2.dll");
#endif
    QCOMPARE(found, expected);
}

void TestResources::picturesAndFontsResolveFromASceneLikeTheScenesUseThem_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("frame") << "/img/main_frame.png" << QSize(742, 509);
    QTest::newRow("unit") << "/img/talvo.jpg" << QSize(532, 382);
    QTest::newRow("L unit") << "/fmw/l/logo.jpg" << QSize(528, 360);
}

void TestResources::picturesAndFontsResolveFromASceneLikeTheScenesUseThem()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QByteArray qml = QString("import QtQuick 2.5\n"
                                   "Item {\n"
                                   "  property alias picture: picture\n"
                                   "  property alias font: loader\n"
                                   "  Image { id: picture; asynchronous: false; source: \"%1\" }\n"
                                   "  FontLoader { id: loader; source: \"/font/DINOT-Bold.otf\" }\n"
                                   "}\n")
                               .arg(path)
                               .toUtf8();
    QQmlComponent component(&_engine);
    component.setData(qml, QUrl("qrc:/qml/ResourceProbe.qml"));
    QScopedPointer<QObject> item(component.create());
    QVERIFY2(item, qPrintable(component.errorString()));
    QObject *picture = item->property("picture").value<QObject *>();
    QCOMPARE(picture->property("status").toInt(), 1); // Image.Ready
    QCOMPARE(picture->property("sourceSize").toSize(), size);
    QObject *loader = item->property("font").value<QObject *>();
    QTRY_COMPARE_WITH_TIMEOUT(loader->property("status").toInt(), 1, 5000); // FontLoader.Ready
    QCOMPARE(loader->property("name").toString(), QString("DINOT-Bold"));
}

void TestResources::entriesAreStoredAsIntended_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Storage>("storage");
    for (const QString &path : kTree) {
        const bool image = path.endsWith("/image.txt");
        QTest::newRow(qPrintable(path)) << path << (image ? Storage::Zlib : Storage::Plain);
    }
}

void TestResources::entriesAreStoredAsIntended()
{
    QFETCH(QString, path);
    QFETCH(Storage, storage);
    const QResource resource(":" + path);
    QVERIFY(resource.isValid());
    const QByteArray content = readEntry(":" + path);
    QCOMPARE(resource.uncompressedSize(), qint64(content.size()));
    if (storage == Storage::Zlib) {
        QCOMPARE(resource.compressionAlgorithm(), QResource::ZlibCompression);
        // Firmware-like content: the stored form is well under a third of the text.
        QVERIFY2(resource.size() * 100 <= content.size() * 30,
                 qPrintable(QString("stored in %1 of %2 bytes").arg(resource.size()).arg(content.size())));
    } else {
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        QCOMPARE(resource.size(), qint64(content.size()));
    }
    // The build's rule and the table agree: nothing here sits on the wrong side of 70 %.
    QCOMPARE(worthCompressing(content), storage == Storage::Zlib);
}

void TestResources::scenesAreCompressedExactlyWhenItSavesSeventyPercent()
{
    const QStringList scenes = sceneEntries();
    QVERIFY(!scenes.isEmpty());
    for (const QString &scene : scenes) {
        const QResource resource(":" + scene);
        const QByteArray content = readEntry(":" + scene);
        const QResource::Compression expected =
            worthCompressing(content) ? QResource::ZlibCompression : QResource::NoCompression;
        QVERIFY2(resource.compressionAlgorithm() == expected, qPrintable(scene));
    }
}

void TestResources::scenesAreTheProgramsOwnSources()
{
    const QDir sources(QStringLiteral(TALVO_SOURCE_DIR) + "/src/qml");
    const QStringList files = sources.entryList({"*.qml"}, QDir::Files, QDir::Name);
    QStringList mapped = sceneEntries();
    for (QString &scene : mapped)
        scene.remove(0, 5);
    QCOMPARE(mapped, files);
    for (const QString &file : files) {
        QFile source(sources.filePath(file));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY2(readEntry(":/qml/" + file) == source.readAll(), qPrintable(file));
    }
}

void TestResources::firmwareImageHasTheCarriedForm_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<QVector<int>>("counts");
    QTest::newRow("S") << "Talvo 400 S"
                       << ":/fmw/s/image.txt" << 389620 << QVector<int>{13658, 16, 110996};
    QTest::newRow("L") << "Talvo 800 L"
                       << ":/fmw/l/image.txt" << 395190 << QVector<int>{12594, 16, 113842};
}

void TestResources::firmwareImageHasTheCarriedForm()
{
    QFETCH(QString, model);
    QFETCH(QString, path);
    QFETCH(int, fileSize);
    QFETCH(QVector<int>, counts);
    const QByteArray text = readEntry(path);
    QCOMPARE(text.size(), fileSize);

    QVector<TiTxtSection> sections;
    const QString error = parseTiTxt(text, &sections);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(sections.size(), 3);
    const QVector<quint32> addresses = {0x8000, 0xFFC6, 0xFFD8};
    int total = 0;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(sections.at(i).address, addresses.at(i));
        QCOMPARE(sections.at(i).data.size(), counts.at(i));
        total += counts.at(i);
    }
    // The third section runs on into upper flash.
    QVERIFY(sections.at(2).address + quint32(sections.at(2).data.size()) > 0x10000);
    // No overlap between the lower code section and the vectors.
    QVERIFY(sections.at(0).address + quint32(sections.at(0).data.size()) <= 0xFFC6);

    // The catalogue records the same path, size and the change log's first version.
    TargetInfo target;
    target.setName(model);
    QCOMPARE(target.firmwareImage(), path);
    QCOMPARE(int(target.firmwareSize()), total);
}

void TestResources::firmwareVectorsPointIntoTheCode_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("S") << ":/fmw/s/image.txt";
    QTest::newRow("L") << ":/fmw/l/image.txt";
}

void TestResources::firmwareVectorsPointIntoTheCode()
{
    QFETCH(QString, path);
    QVector<TiTxtSection> sections;
    QVERIFY(parseTiTxt(readEntry(path), &sections).isEmpty());
    QCOMPARE(sections.size(), 3);
    const quint32 codeStart = sections.at(0).address;
    const quint32 codeEnd = codeStart + quint32(sections.at(0).data.size());

    QVector<quint16> vectors;
    for (int i = 0; i < 16; i += 2)
        vectors << word(sections.at(1).data, i);
    for (int i = 0; i < 0x10000 - 0xFFD8; i += 2)
        vectors << word(sections.at(2).data, i);
    QCOMPARE(vectors.size(), 28);
    QSet<quint16> distinct;
    for (quint16 vector : vectors) {
        QVERIFY2(vector >= codeStart && vector < codeEnd && vector % 2 == 0,
                 qPrintable(QString::number(vector, 16)));
        distinct.insert(vector);
    }
    QVERIFY2(distinct.size() >= 4, "the handlers are all the same");
    // Reset (0xFFFE) enters the start-up code, whose first instruction sets the stack pointer.
    const quint16 reset = vectors.last();
    const int offset = int(reset - codeStart);
    QCOMPARE(word(sections.at(0).data, offset), quint16(0x4031)); // mov #imm, SP
    // Erased flash pads upper flash, but the image is far from blank.
    const QByteArray upper = sections.at(2).data;
    QVERIFY(upper.count(char(0xFF)) < upper.size() / 5);
}

void TestResources::firmwareImagesDiffer()
{
    QVector<TiTxtSection> s, l;
    QVERIFY(parseTiTxt(readEntry(":/fmw/s/image.txt"), &s).isEmpty());
    QVERIFY(parseTiTxt(readEntry(":/fmw/l/image.txt"), &l).isEmpty());
    const QByteArray a = s.at(2).data.left(4096);
    const QByteArray b = l.at(2).data.left(4096);
    int same = 0;
    for (int i = 0; i < a.size(); ++i)
        same += a.at(i) == b.at(i);
    QVERIFY2(same < a.size() / 4, "the two families carry nearly the same code");
}

void TestResources::changelogHasBannerAndSections_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("sections");
    QTest::addColumn<QString>("firstVersion");
    QTest::newRow("S") << "Talvo 800 S"
                       << ":/fmw/s/changelog.txt" << 8 << "49.09";
    QTest::newRow("L") << "Talvo 400L"
                       << ":/fmw/l/changelog.txt" << 5 << "52.05";
}

void TestResources::changelogHasBannerAndSections()
{
    QFETCH(QString, model);
    QFETCH(QString, path);
    QFETCH(int, sections);
    QFETCH(QString, firstVersion);
    const QByteArray text = readEntry(path);
    QVERIFY(text.endsWith("\r\n"));
    for (char c : text)
        QVERIFY2(uchar(c) < 0x80, "not plain ASCII");
    QVERIFY2(text.count('\n') == text.count("\r\n") && text.count('\r') == text.count("\r\n"),
             "a line end other than CR LF");

    const QList<QByteArray> lines = text.left(text.size() - 2).split('\n');
    auto line = [&](int i) {
        return i < lines.size() ? QString::fromLatin1(lines.at(i)).remove('\r') : QString();
    };
    QCOMPARE(line(0), QString(29, '*'));
    QCOMPARE(line(1), QString("* Quellmark Talvo ChangeLog *"));
    QCOMPARE(line(1).size(), 29);
    QCOMPARE(line(2), QString(29, '*'));
    QCOMPARE(line(3), QString());

    static const QRegularExpression versionLine("^Version (\\d\\d)\\.(\\d\\d)$");
    QStringList versions;
    int i = 4;
    while (i < lines.size()) {
        const QRegularExpressionMatch match = versionLine.match(line(i));
        QVERIFY2(match.hasMatch(), qPrintable(QString("line %1: '%2'").arg(i + 1).arg(line(i))));
        QCOMPARE(line(i + 1), QString(line(i).size(), '='));
        QCOMPARE(line(i + 1).size(), 13);
        versions << line(i).mid(8);
        i += 2;
        int entries = 0;
        while (i < lines.size() && line(i).startsWith("- ") && line(i).size() > 2) {
            ++entries;
            ++i;
        }
        QVERIFY2(entries > 0, qPrintable(versions.last()));
        int blanks = 0;
        while (i < lines.size() && line(i).isEmpty()) {
            ++blanks;
            ++i;
        }
        QVERIFY2(blanks == 1 || blanks == 2, qPrintable(QString("after %1").arg(versions.last())));
    }
    QCOMPARE(versions.size(), sections);
    QCOMPARE(versions.first(), firstVersion);
    for (int v = 1; v < versions.size(); ++v)
        QVERIFY2(versions.at(v) < versions.at(v - 1), "versions are not newest first");

    TargetInfo target;
    target.setName(model);
    QCOMPARE(target.firmwareChangelog(), path);
    QCOMPARE(target.firmwareVersion(), firstVersion);
}

void TestResources::pictureHasItsSizeAndKind_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("ink"); // the channel that dominates the drawing, or "" for grey
    QTest::newRow("frame") << ":/img/main_frame.png" << QByteArray("png") << QSize(742, 509) << "b";
    QTest::newRow("scanning") << ":/img/scanning.jpg" << QByteArray("jpeg") << QSize(108, 108) << "b";
    QTest::newRow("error") << ":/img/status_error.jpg" << QByteArray("jpeg") << QSize(108, 108) << "r";
    QTest::newRow("success") << ":/img/status_success.jpg" << QByteArray("jpeg") << QSize(120, 120) << "g";
    QTest::newRow("step 1") << ":/img/step_1.jpg" << QByteArray("jpeg") << QSize(155, 155) << "gb";
    QTest::newRow("step 2") << ":/img/step_2.jpg" << QByteArray("jpeg") << QSize(155, 155) << "gb";
    QTest::newRow("unit") << ":/img/talvo.jpg" << QByteArray("jpeg") << QSize(532, 382) << "";
    QTest::newRow("S unit") << ":/fmw/s/logo.jpg" << QByteArray("jpeg") << QSize(532, 364) << "";
    QTest::newRow("L unit") << ":/fmw/l/logo.jpg" << QByteArray("jpeg") << QSize(528, 360) << "";
}

void TestResources::pictureHasItsSizeAndKind()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(QString, ink);
    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.size(), size);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QCOMPARE(image.hasAlphaChannel(), format == "png");
    if (format == "png")
        return; // the frame's colours have their own test

    // Drawn on black: the corners are black, and the drawing's colour is the stated one.
    for (const QPoint &corner : {QPoint(0, 0), QPoint(size.width() - 1, 0), QPoint(0, size.height() - 1),
                                 QPoint(size.width() - 1, size.height() - 1)})
        QVERIFY(qGray(image.pixel(corner)) < 12);
    qint64 r = 0, g = 0, b = 0, inked = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) + qGreen(p) + qBlue(p) < 120)
                continue;
            r += qRed(p);
            g += qGreen(p);
            b += qBlue(p);
            ++inked;
        }
    }
    QVERIFY2(inked > image.width() * image.height() / 50, "nearly nothing is drawn");
    if (ink == "r")
        QVERIFY(r > 2 * g && r > 2 * b);
    else if (ink == "g")
        QVERIFY(g > 2 * r && g > b);
    else if (ink == "b")
        QVERIFY(b > 2 * r && b > g);
    else if (ink == "gb")
        QVERIFY(g > 2 * r && b > 2 * r);
    else
        QVERIFY(qAbs(r - b) * 4 < r + b); // the unit is grey, only its display is coloured
}

void TestResources::windowFrameHasItsBands()
{
    const QImage frame = QImage(":/img/main_frame.png").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(frame.size(), QSize(742, 509));
    auto near = [](QRgb p, QRgb expected) {
        return qAbs(qRed(p) - qRed(expected)) <= 1 && qAbs(qGreen(p) - qGreen(expected)) <= 1 &&
               qAbs(qBlue(p) - qBlue(expected)) <= 1 && qAlpha(p) == 255;
    };
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const int alpha = qAlpha(frame.pixel(x, y));
            if (y <= 76 || y >= 429)
                QVERIFY2(alpha == 255, qPrintable(QString("%1,%2 not opaque").arg(x).arg(y)));
            else
                QVERIFY2(alpha == 0, qPrintable(QString("%1,%2 not transparent").arg(x).arg(y)));
        }
    }
    // Gradients, sampled at the left edge where there is no text.
    QVERIFY(near(frame.pixel(0, 0), qRgb(0x57, 0x9B, 0xB7)));
    QVERIFY(near(frame.pixel(0, 76), qRgb(0x3C, 0x6B, 0x7E)));
    QVERIFY(near(frame.pixel(741, 429), qRgb(0x15, 0x1A, 0x1D)));
    QVERIFY(near(frame.pixel(0, 508), qRgb(0x1E, 0x26, 0x2A)));
    // White lettering in the header: the caption at the left, the word mark at the right.
    auto whiteIn = [&](const QRect &area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += qGray(frame.pixel(x, y)) > 235;
        return count;
    };
    QVERIFY(whiteIn(QRect(10, 10, 300, 57)) > 300);
    QVERIFY(whiteIn(QRect(430, 10, 300, 57)) > 300);
    QCOMPARE(whiteIn(QRect(320, 10, 100, 57)), 0);
}

void TestResources::scanningRingChangesBrightnessAlongItsCircumference()
{
    const QImage ring(":/img/scanning.jpg");
    int brightest = 0, dimmest = 255;
    for (int step = 0; step < 36; ++step) {
        const double angle = step * 10 * M_PI / 180;
        int best = 0;
        for (double radius = 38; radius <= 52; radius += 0.5) {
            const QPoint p(int(54 + radius * std::sin(angle)), int(54 - radius * std::cos(angle)));
            best = qMax(best, qBlue(ring.pixel(p)));
        }
        brightest = qMax(brightest, best);
        dimmest = qMin(dimmest, best);
    }
    QVERIFY2(dimmest > 10, "the ring is broken");
    QVERIFY2(brightest > 3 * dimmest, qPrintable(QString("%1 against %2").arg(brightest).arg(dimmest)));
}

void TestResources::fontRegistersItsOwnFamily_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("weight");
    QTest::newRow("Light") << "DINOT-Light" << int(QFont::Light);
    QTest::newRow("Regular") << "DINOT-Regular" << int(QFont::Normal);
    QTest::newRow("Medium") << "DINOT-Medium" << int(QFont::Medium);
    QTest::newRow("Bold") << "DINOT-Bold" << int(QFont::Bold);
    QTest::newRow("Black") << "DINOT-Black" << int(QFont::Black);
}

void TestResources::fontRegistersItsOwnFamily()
{
    QFETCH(QString, family);
    QFETCH(int, weight);
    const QString path = ":/font/" + family + ".otf";
    QVERIFY2(readEntry(path).startsWith("OTTO"), "not an OpenType font with PostScript outlines");
    const int id = QFontDatabase::addApplicationFont(path);
    QVERIFY(id >= 0);
    QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList{family});
    QFontDatabase database;
    const QStringList styles = database.styles(family);
    QCOMPARE(styles.size(), 1);
    QCOMPARE(database.weight(family, styles.first()), weight);
    QVERIFY(database.isScalable(family));
}

void TestResources::instructionsAreAFourPagePdf()
{
    const QByteArray pdf = readEntry(":/doc/Instructions Windows - Follow those steps.pdf");
    QVERIFY(pdf.startsWith("%PDF-1."));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    static const QRegularExpression page("/Type\\s*/Page(?![s\\w])");
    QCOMPARE(int(QString::fromLatin1(pdf).count(page)), 4);
    QVERIFY(pdf.contains("/Count 4"));
}

void TestResources::descriptorIsByteForByte_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("lines");
    // Every descriptor names its module, plugin and class, then the same two lines.
    const auto row = [](const char *name, const QString &folder, const QString &module, const QString &plugin,
                        const QString &classname) {
        QTest::newRow(name) << ":/imp/" + folder + "/qmldir"
                            << QStringList{"module " + module, "plugin " + plugin, "classname " + classname,
                                           "typeinfo plugins.qmltypes", "designersupported"};
    };
    row("QtQuick.2", "QtQuick.2", "QtQuick", "qtquick2plugin", "QtQuick2Plugin");
    row("Controls", "QtQuick/Controls", "QtQuick.Controls", "qtquickcontrolsplugin", "QtQuickControlsPlugin");
    row("Layouts", "QtQuick/Layouts", "QtQuick.Layouts", "qquicklayoutsplugin", "QtQuickLayoutsPlugin");
    row("Window.2", "QtQuick/Window.2", "QtQuick.Window", "windowplugin", "QtQuick2WindowPlugin");
}

void TestResources::descriptorIsByteForByte()
{
    QFETCH(QString, path);
    QFETCH(QStringList, lines);
    QCOMPARE(readEntry(path), (lines.join("\r\n") + "\r\n").toLatin1());
}

void TestResources::sourceArchiveIsADeflateZipOfTheSources()
{
    const QByteArray zip = readEntry(":/TalvoUpdater.zip");
    QVERIFY(zip.startsWith("PK\x03\x04"));
    const int end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    QVERIFY(end > 0 && end + 22 <= zip.size());
    const auto *bytes = reinterpret_cast<const uchar *>(zip.constData());
    const int entries = qFromLittleEndian<quint16>(bytes + end + 10);
    int offset = int(qFromLittleEndian<quint32>(bytes + end + 16));
    QStringList names;
    for (int i = 0; i < entries; ++i) {
        QVERIFY(offset + 46 <= end);
        QCOMPARE(qFromLittleEndian<quint32>(bytes + offset), quint32(0x02014b50));
        const int method = qFromLittleEndian<quint16>(bytes + offset + 10);
        const quint32 size = qFromLittleEndian<quint32>(bytes + offset + 24);
        const int nameLength = qFromLittleEndian<quint16>(bytes + offset + 28);
        const int extraLength = qFromLittleEndian<quint16>(bytes + offset + 30);
        const int commentLength = qFromLittleEndian<quint16>(bytes + offset + 32);
        const QString name = QString::fromUtf8(zip.mid(offset + 46, nameLength));
        QVERIFY2(name.startsWith("src/"), qPrintable(name));
        if (size > 0)
            QVERIFY2(method == 8, qPrintable(name + " is not deflated"));
        names << name;
        offset += 46 + nameLength + extraLength + commentLength;
    }
    for (const char *required : {"src/main.cpp", "src/updatedriver.cpp", "src/qml/main.qml"})
        QVERIFY2(names.contains(QLatin1String(required)), required);
    QVERIFY(
        std::any_of(names.begin(), names.end(), [](const QString &n) { return n.startsWith("src/bsl/"); }));

    const QString unzip = QStandardPaths::findExecutable("unzip");
    if (unzip.isEmpty())
        QSKIP("unzip is not installed");
    QTemporaryDir dir;
    QFile out(dir.filePath("TalvoUpdater.zip"));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(zip);
    out.close();
    QProcess test;
    test.start(unzip, {"-t", "-q", out.fileName()});
    QVERIFY(test.waitForFinished(30000));
    QVERIFY2(test.exitCode() == 0, test.readAllStandardOutput().constData());
}

// The controller copies the family's change log and the instructions into the working folder
// and hands the copy to the desktop; a "file" URL handler stands in for the desktop here.
class OpenedUrls : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

void TestResources::controllerCopiesIntoTheWorkingFolder_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("copy");
    QTest::newRow("S change log") << "Talvo 400 S"
                                  << ":/fmw/s/changelog.txt"
                                  << "changelog.txt";
    QTest::newRow("L change log") << "Talvo 800 L"
                                  << ":/fmw/l/changelog.txt"
                                  << "changelog.txt";
    QTest::newRow("instructions") << ""
                                  << ":/doc/Instructions Windows - Follow those steps.pdf"
                                  << "Instructions Windows - Follow those steps.pdf";
}

void TestResources::controllerCopiesIntoTheWorkingFolder()
{
    QFETCH(QString, model);
    QFETCH(QString, source);
    QFETCH(QString, copy);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    UpdateDriver::setDocumentOpener(&openWithDesktop);
    {
        UpdateDriver driver;
        if (model.isEmpty()) {
            driver.openDocumentationNatively();
        } else {
            driver.versionHandle(model, "40.00");
            driver.openChangelogNatively();
        }
    }
    QDesktopServices::unsetUrlHandler("file");
    QDir::setCurrent(previous);

    QFile written(dir.filePath(copy));
    QVERIFY2(written.open(QIODevice::ReadOnly), qPrintable(copy));
    QVERIFY2(written.readAll() == readEntry(source), "the copy differs from the collection's entry");
    QCOMPARE(opened.urls.size(), 1);
    QCOMPARE(QFileInfo(opened.urls.first().toLocalFile()).fileName(), copy);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
