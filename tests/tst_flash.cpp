#include "simulatedunit.h"
#include "testimage.h"

#include <QSerialPortInfo>
#include <QtTest>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>

namespace {

const int RUN_TIMEOUT_MS = 60000;

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

// talvo-flash as a user runs it, against a simulated unit in this process.
class tst_Flash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wrongUsageExitsWith2_data();
    void wrongUsageExitsWith2();
    void helpExplainsTheOptions();
    void probeShowsTheUnit_data();
    void probeShowsTheUnit();
    void verboseShowsTheDebugLog();
    void noUnitExitsWith1_data();
    void noUnitExitsWith1();
    void searchOfTheMachinesPortsWithoutUnitExitsWith1();
    void downgradeIsRefusedWithoutTheOption();
    void installationsShowProgressAndWriteTheImage();
    void failedInstallationExitsWith1();

private:
    Run flash(const QStringList &arguments);
    std::unique_ptr<SimulatedUnit> startUnit(const QByteArray &versionText);
};

void tst_Flash::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
}

Run tst_Flash::flash(const QStringList &arguments)
{
    QProcess process;
    process.start(TALVO_FLASH_PATH, arguments);
    Run run;
    if (!process.waitForStarted() || !process.waitForFinished(RUN_TIMEOUT_MS)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

std::unique_ptr<SimulatedUnit> tst_Flash::startUnit(const QByteArray &versionText)
{
    auto unit = std::make_unique<SimulatedUnit>();
    unit->setVersionText(versionText);
    unit->loadDefaultFirmware();
    if (!unit->start())
        qWarning() << "simulated unit:" << unit->errorString();
    return unit;
}

void tst_Flash::wrongUsageExitsWith2_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList{"--force"};
    QTest::newRow("stray argument") << QStringList{"/dev/ttyACM0"};
    QTest::newRow("port without path") << QStringList{"--port"};
    QTest::newRow("empty port") << QStringList{"--port", ""};
    QTest::newRow("downgrade without install") << QStringList{"--downgrade"};
}

void tst_Flash::wrongUsageExitsWith2()
{
    QFETCH(QStringList, arguments);
    const Run run = flash(arguments);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains("Try 'talvo-flash --help'."), qPrintable(run.err));
}

void tst_Flash::helpExplainsTheOptions()
{
    const Run run = flash({"--help"});
    QCOMPARE(run.exitCode, 0);
    for (const char *word :
         {"--port <path>", "--install", "--downgrade", "--verbose", "Exit status", "1240", "223"})
        QVERIFY2(run.out.contains(word), word);
}

void tst_Flash::probeShowsTheUnit_data()
{
    QTest::addColumn<QByteArray>("versionText");
    QTest::addColumn<QString>("expected");

    QTest::newRow("S, update available") << QByteArray("49.05(1799),Talvo 400S")
                                         << "Model:             Talvo 400 S\n"
                                            "Installed version: 49.05\n"
                                            "Carried version:   49.09\n"
                                            "Update available:  yes\n";
    QTest::newRow("L, up to date") << QByteArray("52.05(2400),Talvo 800 L")
                                   << "Model:             Talvo 800 L\n"
                                      "Installed version: 52.05\n"
                                      "Carried version:   52.05\n"
                                      "Update available:  no\n";
    QTest::newRow("model not in the catalogue") << QByteArray("49.05(1799),Talvo 900X")
                                                << "Model:             Talvo 900X\n"
                                                   "Installed version: 49.05\n"
                                                   "Carried version:   none for this model\n"
                                                   "Update available:  no\n";
}

void tst_Flash::probeShowsTheUnit()
{
    QFETCH(QByteArray, versionText);
    QFETCH(QString, expected);

    auto unit = startUnit(versionText);
    const Run run = flash({"--port", unit->portPath()});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, expected);
    QCOMPARE(run.err, QString()); // the debug log stays hidden
    QCOMPARE(unit->handshakesAnswered(), 1);
    QCOMPARE(unit->framesReceived(), 0);
}

void tst_Flash::verboseShowsTheDebugLog()
{
    auto unit = startUnit("49.01(1623)");
    const Run run = flash({"--verbose", "--port", unit->portPath()});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith("Model:             Talvo\n"));
    QVERIFY2(run.err.contains("Version      : \"49.01(1623)\""), qPrintable(run.err));
    QVERIFY2(run.err.contains("Status       : OK"), qPrintable(run.err));
}

void tst_Flash::noUnitExitsWith1_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("silent unit") << "silent";
    QTest::newRow("no such device") << "missing";
    QTest::newRow("held by another program") << "held";
}

void tst_Flash::noUnitExitsWith1()
{
    QFETCH(QString, situation);

    auto unit = startUnit("49.05(1799),Talvo 400S");
    unit->setSilent(true);
    if (situation == "held")
        unit->setSilent(false);
    const QString path = situation == "missing" ? QString("/dev/talvo-flash-test-none") : unit->portPath();
    const int holder = ::open(qPrintable(unit->portPath()), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(holder >= 0);
    if (situation == "held")
        QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);
    const Run run = flash({"--port", path});
    ::close(holder);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith("Error: ") && run.err.contains(path), qPrintable(run.err));
    if (situation == "held")
        QVERIFY2(run.err.contains("in use by another program"), qPrintable(run.err));
    QCOMPARE(unit->handshakesAnswered(), 0);
}

void tst_Flash::searchOfTheMachinesPortsWithoutUnitExitsWith1()
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.vendorIdentifier() == 1240 && info.productIdentifier() == 223)
            QSKIP("a unit is connected to this machine");
    }
    const Run run = flash({});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QString("Error: no Talvo unit found (is it connected and switched on?)\n"));
}

void tst_Flash::downgradeIsRefusedWithoutTheOption()
{
    auto unit = startUnit("52.09(2500),Talvo 400 L");
    const Run run = flash({"--install", "--port", unit->portPath()});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.startsWith("Model:             Talvo 400 L\n"), qPrintable(run.out));
    QVERIFY(!run.out.contains("Update successful!"));
    QVERIFY2(run.err.contains("52.09") && run.err.contains("--downgrade"), qPrintable(run.err));
    QCOMPARE(unit->framesReceived(), 0);
}

// Two full installations side by side (each takes its time on the line): an update with its
// output in a pipe, and a downgrade with its output on a terminal.
void tst_Flash::installationsShowProgressAndWriteTheImage()
{
    bool ok = false;
    const TestImage::Sections imageS = TestImage::read(":/fmw/s/image.txt", &ok);
    QVERIFY(ok);
    const TestImage::Sections imageL = TestImage::read(":/fmw/l/image.txt", &ok);
    QVERIFY(ok);

    const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(terminal >= 0);
    QVERIFY(grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    const QString terminalPath = QString::fromLocal8Bit(ptsname(terminal));
    QByteArray screen;
    QSocketNotifier notifier(terminal, QSocketNotifier::Read);
    connect(&notifier, &QSocketNotifier::activated, this, [&] {
        char buffer[4096];
        const ssize_t count = ::read(terminal, buffer, sizeof buffer);
        if (count > 0)
            screen.append(buffer, int(count));
    });

    auto unitS = startUnit("49.05(1799),Talvo 400S");
    auto unitL = startUnit("52.09(2500),Talvo 400 L");
    QProcess update;
    QProcess downgrade;
    downgrade.setStandardOutputFile(terminalPath);
    QSignalSpy updateFinished(&update, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    QSignalSpy downgradeFinished(&downgrade, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    update.start(TALVO_FLASH_PATH, {"--install", "--port", unitS->portPath()});
    downgrade.start(TALVO_FLASH_PATH, {"--install", "--downgrade", "--port", unitL->portPath()});
    QVERIFY(QTest::qWaitFor([&] { return updateFinished.count() == 1 && downgradeFinished.count() == 1; },
                            2 * RUN_TIMEOUT_MS));

    // In a pipe: one percentage line per step, 1 to 100.
    const QString out = QString::fromUtf8(update.readAllStandardOutput());
    QCOMPARE(update.exitCode(), 0);
    QVERIFY2(out.endsWith("Update successful!\n"), qPrintable(out));
    QStringList expected;
    for (int percent = 1; percent <= 100; ++percent)
        expected << QString("%1 %").arg(percent);
    QCOMPARE(out.split('\n').mid(4, 100), expected);
    QCOMPARE(unitS->memory(0, int(SimulatedUnit::MEMORY_SIZE)),
             TestImage::memoryImage(imageS, int(SimulatedUnit::MEMORY_SIZE)));

    // On a terminal: one bar redrawn in place, from the first step to the full bar.
    QCOMPARE(downgrade.exitCode(), 0);
    QVERIFY(QTest::qWaitFor([&] { return screen.contains("Update successful!"); }, 5000));
    ::close(terminal);
    QVERIFY2(screen.contains("\r[----------------------------------------]   1 %"),
             screen.left(300).constData());
    QVERIFY(screen.contains("\r[####################--------------------]  50 %"));
    QVERIFY(screen.contains("\r[########################################] 100 %"));
    QVERIFY(!screen.contains("\n50 %"));
    QCOMPARE(unitL->memory(0, int(SimulatedUnit::MEMORY_SIZE)),
             TestImage::memoryImage(imageL, int(SimulatedUnit::MEMORY_SIZE)));
}

void tst_Flash::failedInstallationExitsWith1()
{
    auto unit = startUnit("49.05(1799),Talvo 400S");
    unit->setPasswordPolicy(SimulatedUnit::PasswordPolicy::RefuseAlways);
    const Run run = flash({"--install", "--port", unit->portPath()});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!run.out.contains("Update successful!"));
    QVERIFY2(run.err.endsWith("Error: Update failed\n"), qPrintable(run.err));
    QCOMPARE(unit->blocksWritten(), 0);
}

QTEST_GUILESS_MAIN(tst_Flash)
#include "tst_flash.moc"
