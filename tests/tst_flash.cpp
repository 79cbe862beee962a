#include "simulatedunit.h"
#include "testimage.h"

#include <QSerialPortInfo>
#include <QtTest>

#include <csignal>
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

// A run watched alongside others (a full installation spends about 20 s on the loader's quiet
// windows). Each step waits for a text on the output, then sends a signal to the flasher.
struct Watched
{
    using Step = QPair<QByteArray, int>;
    std::unique_ptr<SimulatedUnit> unit;
    QProcess process, head; // head: the reader of the output, when the row pipes it into head
    QByteArray out, err;
    QList<Step> steps;
    int exitCode() const { return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1; }
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
    void restoresVerificationAndInterrupts();
    void allInstallsOnEveryUnitAtOnce();
    void allWithoutAnyUnitExitsWith3();

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
    // The family cannot be read from a unit without its firmware, and is never guessed.
    QTest::newRow("recover without family") << QStringList{"--recover", "--port", "/dev/ttyACM0"};
    QTest::newRow("recover with install") << QStringList{"--recover", "--family", "S", "--install"};
    QTest::newRow("unknown family") << QStringList{"--recover", "--family", "X"};
    QTest::newRow("verify without install") << QStringList{"--verify"};
    QTest::newRow("fast without install") << QStringList{"--fast", "--port", "/dev/ttyACM0"};
    QTest::newRow("all without install") << QStringList{"--all", "--port", "/dev/ttyACM0"};
    QTest::newRow("two ports without all") << QStringList{"--port", "/dev/ttyACM0", "--port", "/dev/ttyACM1"};
}

void tst_Flash::wrongUsageExitsWith2()
{
    QFETCH(QStringList, arguments);
    const Run run = flash(arguments);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains("Try 'talvo-flash --help'."), qPrintable(run.err));
    if (QByteArray(QTest::currentDataTag()) == "recover without family")
        QVERIFY2(run.err.contains("--recover needs --family S or L"), qPrintable(run.err));
}

void tst_Flash::helpExplainsTheOptions()
{
    const Run run = flash({"--help"});
    QCOMPARE(run.exitCode, 0);
    for (const char *word : {"--port <path>", "--install", "--downgrade", "--verify", "--fast", "--recover",
                             "--family <S|L>", "--verbose", "Exit status", "130", "1240", "223"})
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

// Restores, verified installations, a search that meets a unit in its loader, and installations
// that outlive their reader and a closed terminal, warn at one interrupt and stop at two.
void tst_Flash::restoresVerificationAndInterrupts()
{
    bool okS = false, okL = false;
    const int memorySize = int(SimulatedUnit::MEMORY_SIZE);
    const QMap<QString, QByteArray> images = {
        {"S", TestImage::memoryImage(TestImage::read(":/fmw/s/image.txt", &okS), memorySize)},
        {"L", TestImage::memoryImage(TestImage::read(":/fmw/l/image.txt", &okL), memorySize)}};
    QVERIFY(okS && okL);
    const QStringList install{"--install", "--port", "PORT"}, verify = install + QStringList{"--verify"};
    const QStringList recover{"--recover", "--family", "S", "--port", "PORT"}, probe{"--port", "PORT"};
    const QStringList recoverL{"--recover", "--family", "l", "--port", "PORT"}, fast{"--fast"};
    const QString command = "talvo-flash --recover --family S --port PORT";
    const QString stopped = "Restore it with\n  " + command + "\n",
                  again = "Error: Restore failed; the unit stays in its loader. Try again with\n  " + command;
    const QString restored = "Verified\nRestore successful!\n", verifyFailed = "the carried firmware\n";
    const QByteArray writing = "\n3 %\n", warning = "Warning: stopping now would leave the unit";
    const QList<Watched::Step> twoSigint{{writing, SIGINT}, {warning, SIGINT}};
    struct Row
    {
        const char *name;
        QString setup; // "stranded": no reset vector; "flip": block 5 stored wrong; "head": | head -n 6
        QStringList arguments;
        int exitCode;
        QString out, err; // contained in the output; an empty err: nothing on standard error
        QString memory;   // "S", "L": the family's image; "kept": as before; empty: not checked
        QList<Watched::Step> steps = {};
    };
    const QList<Row> rows = {
        Row{"stranded unit restored", "stranded", recover, 0, "100 %\n" + restored, "", "S"},
        Row{"family given decides", "stranded", recoverL, 0, restored, "", "L"},
        Row{"running unit kept", "", recover, 1, "", "no Talvo unit in its loader answers on PORT", "kept"},
        Row{"restore not verified", "stranded flip", recover, 1, "100 %\n", verifyFailed + again, ""},
        Row{"installation verified", "", verify, 0, "100 %\nVerified\nUpdate successful!\n", "", "S"},
        Row{"installation not verified", "flip", verify, 1, "100 %\n",
            verifyFailed + "Error: Update failed\n", ""},
        Row{"fast installation verified", "", install + fast, 0, "Verified\nUpdate successful!\n", "", "S"},
        Row{"fast restore", "stranded", recover + fast, 0, "100 %\n" + restored, "", "S"},
        Row{"search meets a loader", "stranded", probe, 1, "", stopped + "S or L: the family of", "kept"},
        Row{"output into head", "head", install, 0, "", "", "S"},
        Row{"terminal closed", "", install, 0, "Update successful!\n", "", "S", {{writing, SIGHUP}}},
        Row{"one SIGINT", "", install, 0, "Update successful!\n", warning, "S", {{writing, SIGINT}}},
        Row{"one SIGTERM", "", install, 0, "Update successful!\n", warning, "S", {{writing, SIGTERM}}},
        Row{"two SIGINT", "", install, 130, "", stopped, "", twoSigint},
    };

    std::vector<std::unique_ptr<Watched>> runs;
    QList<QStringList> arguments;
    QList<QByteArray> before;
    const auto runSideBySide = [&](const QList<int> &indexes) {
        for (int i : indexes)
            runs[size_t(i)]->process.start(
                TALVO_FLASH_PATH,
                QStringList(arguments.at(i)).replaceInStrings("PORT", runs[size_t(i)]->unit->portPath()));
        return QTest::qWaitFor(
            [&] {
                bool ended = true;
                for (int i : indexes) {
                    Watched &run = *runs[size_t(i)];
                    run.err += run.process.readAllStandardError();
                    run.out += run.process.readAllStandardOutput();
                    while (!run.steps.isEmpty() && (run.out + run.err).contains(run.steps.first().first))
                        ::kill(pid_t(run.process.processId()), run.steps.takeFirst().second);
                    ended = ended && run.process.state() == QProcess::NotRunning;
                }
                return ended;
            },
            3 * RUN_TIMEOUT_MS);
    };
    QList<int> all, interrupted;
    for (const Row &row : rows) {
        runs.push_back(std::make_unique<Watched>());
        Watched &run = *runs.back();
        run.unit = startUnit("49.05(1799),Talvo 400S");
        if (row.setup.contains("stranded"))
            run.unit->loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS - 0x7E, QByteArray(0x80, '\xFF'));
        auto flip = SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_RX_DATA_BLOCK, 5);
        flip.kind = SimulatedUnit::FrameFault::StoredBitFlip;
        if (row.setup.contains("flip"))
            run.unit->addFrameFault(flip);
        if (row.setup == "head") {
            run.process.setStandardOutputProcess(&run.head);
            run.head.start("head", {"-n", "6"});
        }
        run.steps = row.steps;
        before << run.unit->memory(0, memorySize);
        all << arguments.size();
        arguments << row.arguments;
    }
    QVERIFY(runSideBySide(all));

    for (int i = 0; i < rows.size(); ++i) {
        const Row &row = rows.at(i);
        Watched &run = *runs[size_t(i)];
        const QString out = QString::fromUtf8(run.out), err = QString::fromUtf8(run.err);
        const QString context = QString("%1\n%2%3").arg(row.name, out.right(100), err);
        QVERIFY2(run.exitCode() == row.exitCode && run.steps.isEmpty() && out.contains(row.out),
                 qPrintable(context));
        QVERIFY2(row.err.isEmpty() ? err.isEmpty()
                                   : err.contains(QString(row.err).replace("PORT", run.unit->portPath())),
                 qPrintable(context));
        const QByteArray memory = run.unit->memory(0, memorySize);
        QVERIFY2(row.memory.isEmpty() ||
                     memory == (row.memory == "kept" ? before.at(i) : images.value(row.memory)),
                 row.name);
        // "Verified" stands for the loader's CRC checks of the memory.
        QVERIFY2(!out.contains("Verified") || run.unit->framesReceived(SimulatedUnit::CMD_CRC_CHECK) > 0,
                 row.name);
        if (row.exitCode == 130) {
            // Stopped after the current frame of the 521, the port released: the command shown restores it.
            QVERIFY2(run.unit->blocksWritten() < 521, row.name);
            run.err.clear();
            arguments[i] = command.split(' ').mid(1);
            interrupted << i;
        }
    }
    QVERIFY(runSideBySide(interrupted));
    for (int i : interrupted) {
        QVERIFY2(runs[size_t(i)]->exitCode() == 0, runs[size_t(i)]->err.constData());
        QCOMPARE(runs[size_t(i)]->unit->memory(0, memorySize), images.value("S"));
    }
}

// Several units side by side in one run: each unit's lines under its port, then a table; the exit
// status is 0 only when every unit was installed. Interrupts reach every unit's run.
void tst_Flash::allInstallsOnEveryUnitAtOnce()
{
    bool okS = false, okL = false;
    const int memorySize = int(SimulatedUnit::MEMORY_SIZE);
    const QMap<QString, QByteArray> images = {
        {"S", TestImage::memoryImage(TestImage::read(":/fmw/s/image.txt", &okS), memorySize)},
        {"L", TestImage::memoryImage(TestImage::read(":/fmw/l/image.txt", &okL), memorySize)}};
    QVERIFY(okS && okL);
    const QMap<QString, QByteArray> versions = {{"S", "49.05(1799),Talvo 400S"},
                                                {"L", "52.02(2316),Talvo 400 L"}};
    const QMap<QString, QString> models = {{"S", "Talvo 400 S"}, {"L", "Talvo 400 L"}};
    struct Row
    {
        const char *name;
        QStringList units; // family per unit; "S!": an S unit that refuses every data block
        int interrupts;    // SIGINT to the flasher once every unit writes, and again after the warnings
        int exitCode;
        QStringList results; // per unit, in the summary: "result status"
    };
    const QList<Row> rows = {
        Row{"one unit fails", {"S", "L", "S!"}, 0, 1, {"installed 0", "installed 0", "failed 1"}},
        Row{"one interrupt only warns", {"L", "S"}, 1, 0, {"installed 0", "installed 0"}},
        Row{"two interrupts stop every unit", {"S", "L"}, 2, 130, {"stopped 130", "stopped 130"}},
    };
    struct AllRun
    {
        std::vector<std::unique_ptr<SimulatedUnit>> units;
        QProcess process;
        QByteArray out, err;
        int signalsSent = 0;
    };
    std::vector<std::unique_ptr<AllRun>> runs;
    for (const Row &row : rows) {
        runs.push_back(std::make_unique<AllRun>());
        QStringList arguments{"--all", "--install"};
        for (const QString &family : row.units) {
            runs.back()->units.push_back(startUnit(versions.value(family.left(1))));
            if (family.endsWith('!'))
                runs.back()->units.back()->addFrameFault(
                    SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_RX_DATA_BLOCK, 1, -1));
            arguments << "--port" << runs.back()->units.back()->portPath();
        }
        runs.back()->process.start(TALVO_FLASH_PATH, arguments);
    }
    QVERIFY(QTest::qWaitFor(
        [&] {
            bool ended = true;
            for (size_t i = 0; i < runs.size(); ++i) {
                AllRun &run = *runs[i];
                run.out += run.process.readAllStandardOutput();
                run.err += run.process.readAllStandardError();
                const QByteArray seen = run.out + run.err,
                                 awaited = run.signalsSent ? "] Warning" : "] 3 %\n";
                if (run.signalsSent < rows.at(int(i)).interrupts &&
                    seen.count(awaited) == int(run.units.size())) {
                    ::kill(pid_t(run.process.processId()), SIGINT);
                    ++run.signalsSent;
                }
                ended = ended && run.process.state() == QProcess::NotRunning;
            }
            return ended;
        },
        2 * RUN_TIMEOUT_MS));

    for (int i = 0; i < rows.size(); ++i) {
        const Row &row = rows.at(i);
        AllRun &run = *runs[size_t(i)];
        const QString out = QString::fromUtf8(run.out), err = QString::fromUtf8(run.err);
        const QString context = QString("%1\n%2%3").arg(row.name, out.right(400), err.right(800));
        QVERIFY2(run.process.exitCode() == row.exitCode && run.signalsSent == row.interrupts,
                 qPrintable(context));
        // The table follows the units' lines: a header, then one line per unit.
        QStringList lines = out.split('\n', Qt::SkipEmptyParts);
        const int header = lines.indexOf(QRegularExpression("^port +model +result +status +seconds$"));
        QVERIFY2(header >= 0 && lines.size() == header + 1 + row.units.size(), qPrintable(context));
        const QStringList summary = lines.mid(header + 1);
        lines = lines.mid(0, header) + err.split('\n', Qt::SkipEmptyParts);
        QStringList ports;
        for (size_t u = 0; u < run.units.size(); ++u) {
            const QString port = run.units[u]->portPath().mid(5), family = row.units.at(int(u)).left(1);
            ports << port;
            const QRegularExpression line(QString("^%1 +%2 +%3 +\\d+\\.\\d$")
                                              .arg(QRegularExpression::escape(port), models.value(family),
                                                   QString(row.results.at(int(u))).replace(' ', " +")));
            QVERIFY2(summary.filter(line).size() == 1, qPrintable(line.pattern() + "\n" + context));
            QVERIFY2(!row.results.at(int(u)).startsWith("installed") ||
                         (run.units[u]->memory(0, memorySize) == images.value(family) &&
                          (out + err).contains(QString("[%1] 100 %\n").arg(port))),
                     qPrintable(port + "\n" + context));
            QVERIFY2(row.results.at(int(u)).startsWith("installed") ||
                         run.units[u]->memory(0, memorySize) != images.value(family),
                     qPrintable(port + "\n" + context));
            QVERIFY2(row.interrupts == 0 || err.contains(QString("[%1] Warning: stopping now").arg(port)),
                     qPrintable(context));
        }
        // Every line a unit's run wrote, on either stream, under that unit's port.
        const QRegularExpression prefixed(QString("^\\[(%1)\\] ").arg(ports.join('|')));
        QVERIFY2(lines.filter(prefixed).size() == lines.size(), qPrintable(context));
    }
}

void tst_Flash::allWithoutAnyUnitExitsWith3()
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.vendorIdentifier() == 1240 && info.productIdentifier() == 223)
            QSKIP("a unit is connected to this machine");
    }
    const Run run = flash({"--all", "--install"});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QString("Error: no Talvo unit found (is it connected and switched on?)\n"));
}

QTEST_GUILESS_MAIN(tst_Flash)
#include "tst_flash.moc"
