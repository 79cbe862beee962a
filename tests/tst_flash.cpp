#include "processsupport.h"
#include "testimage.h"
#include "unitsupport.h"

#include <QSerialPortInfo>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

const int RUN_TIMEOUT_MS = 60000;

// Where a run's standard output goes: a pipe the test reads, or a file, opened to append or not.
enum class Output
{
    Pipe,
    File,
    AppendedFile,
};

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Prepares the unit's port: "held" by another program's lock (root ignores TIOCEXCL, not the
// lock), closed to everyone ("no access"; the flasher then runs as an ordinary user). Returns the
// descriptor that holds the port, to be closed after the run.
int preparePort(const QString &situation, const QString &path)
{
    const int holder = ::open(qPrintable(path), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (situation == "held" && flock(holder, LOCK_EX | LOCK_NB) != 0)
        qWarning() << "could not lock" << path;
    if (situation == "no access" && ::chmod(qPrintable(path), 0) != 0)
        qWarning() << "could not close" << path;
    return holder;
}

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

const int MEMORY_BYTES = int(SimulatedUnit::MEMORY_SIZE);

// How a watched run's unit is made, or the run around it.
enum UnitFault
{
    Stranded = 0x1,         // in its loader: the reset vector's page blank
    FlipBlock5 = 0x2,       // data block 5 stored with a bit flipped
    SpoiltFirstReply = 0x4, // the loader's first reply damaged on the line
    NoCrcCommand = 0x8,     // a loader without the CRC command
    LoaderReplyBad = 0x10,  // every loader version reply fails its checksum
    CrcSilent = 0x20,       // the CRC check left unanswered
    CrcRefused = 0x40,      // the CRC check refused
    JunkReply = 0x80,       // a half-written application answers the request with junk
    MuteReply = 0x100,      // a half-written application does not answer the request
    Silent = 0x200,         // nothing answers
    IntoHead = 0x400,       // the run's output piped into head -n 2
    Cycled = 0x800,         // switched off and on after the run stopped
};
Q_DECLARE_FLAGS(UnitSetup, UnitFault)
Q_DECLARE_OPERATORS_FOR_FLAGS(UnitSetup)

// Makes the unit as `setup` asks; false when a fault cannot be made.
bool setUp(SimulatedUnit &unit, UnitSetup setup)
{
    unit.setKnowsCrcCheck(!(setup & NoCrcCommand));
    if (setup & LoaderReplyBad) {
        auto badCrc = SimulatedUnit::FrameFault::of(SimulatedUnit::FrameFault::ReplyBytes, 0x19, 1, -1);
        badCrc.replyBytes = SimulatedUnit::messageReply(SimulatedUnit::MSG_BSL_LOCKED);
        badCrc.replyBytes[6] = char(badCrc.replyBytes.at(6) ^ 0x01);
        unit.addFrameFault(badCrc);
    }
    SimulatedUnit::Handshake handshake = unit.handshake();
    handshake.rawReply = setup & JunkReply ? QByteArray("\x7d\x01\x7e", 3) : QByteArray();
    handshake.mute = bool(setup & MuteReply);
    unit.setHandshake(handshake);
    unit.setSilent(bool(setup & Silent));
    if (setup & Stranded)
        unit.loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS - 0x7E, QByteArray(0x80, '\xFF'));
    if (setup & FlipBlock5) {
        auto flip = SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_RX_DATA_BLOCK, 5);
        flip.kind = SimulatedUnit::FrameFault::StoredBitFlip;
        unit.addFrameFault(flip);
    }
    if (setup & CrcSilent)
        unit.addFrameFault(SimulatedUnit::FrameFault::silent(SimulatedUnit::CMD_CRC_CHECK, 1, -1));
    if (setup & CrcRefused)
        unit.addFrameFault(SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_CRC_CHECK, 1, -1));
    SimulatedUnit::LineFault spoilt;
    if (!SimulatedUnit::LineFault::parse("reply@0x19:1/flip@0", &spoilt))
        return false;
    if (setup & SpoiltFirstReply)
        unit.addLineFault(spoilt);
    return true;
}

// A unit's memory after each family's carried image was installed, by family; empty when an
// image cannot be read.
QMap<QString, QByteArray> carriedImages()
{
    bool okS = false, okL = false;
    const QMap<QString, QByteArray> images = {
        {"S", TestImage::memoryImage(TestImage::read(":/fmw/s/image.txt", &okS), MEMORY_BYTES)},
        {"L", TestImage::memoryImage(TestImage::read(":/fmw/l/image.txt", &okL), MEMORY_BYTES)}};
    return okS && okL ? images : QMap<QString, QByteArray>();
}

} // namespace

Q_DECLARE_METATYPE(Output)

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
    void verboseShowsTheDebugLog_data();
    void verboseShowsTheDebugLog();
    void noUsableUnitExitsWith3Or4_data();
    void noUsableUnitExitsWith3Or4();
    void searchOfTheMachinesPortsWithoutUnitExitsWith3();
    void downgradeIsRefusedWithoutTheOption_data();
    void downgradeIsRefusedWithoutTheOption();
    void eachRunEndsWithItsStatusAndWords_data();
    void eachRunEndsWithItsStatusAndWords();
    void installationsShowProgressAndWriteTheImage();
    void failedInstallationExitsWith1();
    void restoresVerificationAndInterrupts();
    void allInstallsOnEveryUnitAtOnce();
    void allWithoutAnyUnitExitsWith3();
    void allTellsOfAKilledRun();
    void stationRecordKeepsEveryFinishedRow();
    void stationRowsAreWholeAndHarmless_data();
    void stationRowsAreWholeAndHarmless();
    void allOnATerminalRedrawsALinePerUnit();
    void restoresTakeOnlyTheUnitsOwnEntry_data();
    void restoresTakeOnlyTheUnitsOwnEntry();
    void withoutAHomeNothingIsKept_data();
    void withoutAHomeNothingIsKept();
    void stationImagesAreCheckedThenInstalled_data();
    void stationImagesAreCheckedThenInstalled();

private:
    Run flash(const QStringList &arguments, bool asOrdinaryUser = false,
              const QString &outputFile = QString(), QIODevice::OpenMode outputMode = QIODevice::Truncate);
};

void tst_Flash::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
}

Run tst_Flash::flash(const QStringList &arguments, bool asOrdinaryUser, const QString &outputFile,
                     QIODevice::OpenMode outputMode)
{
    TestProcess process;
    process.asOrdinaryUser = asOrdinaryUser;
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile, outputMode);
    process.start(TALVO_FLASH_PATH, arguments);
    Run run;
    if (!process.waitForStarted() || !process.waitForFinished(RUN_TIMEOUT_MS)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCodeOr(-1);
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    QFile output(outputFile);
    if (!outputFile.isEmpty() && output.open(QIODevice::ReadOnly))
        run.out = QString::fromUtf8(output.readAll());
    return run;
}

void tst_Flash::wrongUsageExitsWith2_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // the start of the usage error, after "talvo-flash: "
    QTest::addColumn<Output>("output");
    QTest::newRow("unknown option") << QStringList{"--force"} << QString("Unknown option 'force'.")
                                    << Output::Pipe;
    QTest::newRow("stray argument") << QStringList{"/dev/ttyACM0"}
                                    << QString("unexpected argument '/dev/ttyACM0'") << Output::Pipe;
    QTest::newRow("port without path")
        << QStringList{"--port"} << QString("Missing value after '--port'.") << Output::Pipe;
    QTest::newRow("empty port") << QStringList{"--port", ""} << QString("--port needs a device path")
                                << Output::Pipe;
    QTest::newRow("downgrade without install")
        << QStringList{"--downgrade"} << QString("--downgrade goes with --install") << Output::Pipe;
    // The family cannot be read from a unit without its firmware, and is never guessed.
    QTest::newRow("recover with an empty family")
        << QStringList{"--recover", "--family", "", "--port", "/dev/ttyACM0"}
        << QString("--family must be S or L, not ''") << Output::Pipe;
    QTest::newRow("recover with install")
        << QStringList{"--recover", "--family", "S", "--install"}
        << QString("--recover and --install cannot be combined") << Output::Pipe;
    QTest::newRow("unknown family") << QStringList{"--recover", "--family", "X"}
                                    << QString("--family must be S or L, not 'X'") << Output::Pipe;
    QTest::newRow("verify without install")
        << QStringList{"--verify"} << QString("--verify goes with --install (--recover always verifies)")
        << Output::Pipe;
    QTest::newRow("fast without install")
        << QStringList{"--fast", "--port", "/dev/ttyACM0"}
        << QString("--fast goes with --install or --recover") << Output::Pipe;
    QTest::newRow("list with install")
        << QStringList{"--list", "--install"}
        << QString("--list does nothing else: it cannot be combined with --install") << Output::Pipe;
    QTest::newRow("all with json") << QStringList{"--all", "--install", "--json"}
                                   << QString("--all cannot be combined with --json, --quiet or --log-file")
                                   << Output::Pipe;
    QTest::newRow("all without install") << QStringList{"--all", "--port", "/dev/ttyACM0"}
                                         << QString("--all goes with --install") << Output::Pipe;
    QTest::newRow("two ports without all")
        << QStringList{"--port", "/dev/ttyACM0", "--port", "/dev/ttyACM1"}
        << QString("--port is given once, or once per device with --all") << Output::Pipe;
    QTest::newRow("family twice") << QStringList{"--recover", "--family", "S", "--family", "L"}
                                  << QString("--family is given more than once") << Output::Pipe;
    QTest::newRow("install twice, short and long")
        << QStringList{"-i", "--install"} << QString("--install is given more than once") << Output::Pipe;
    QTest::newRow("one device twice with all")
        << QStringList{"--all", "--install", "--port", "/dev/ttyACM0", "--port", "/dev/ttyACM0"}
        << QString("--port names the same device more than once") << Output::Pipe;
    QTest::newRow("log file refusing its lines")
        << QStringList{"--log-file", "/dev/full", "--list"}
        << QString("cannot write the log file /dev/full: it is a character device") << Output::Pipe;
    // Nothing that could block the run or carry the log elsewhere: "@fifo" and "@pty" stand for
    // a FIFO without a reader and a pseudo-terminal, standard output is a regular file.
    QTest::newRow("log file a FIFO") << QStringList{"--log-file", "@fifo", "--list"}
                                     << QString("cannot write the log file @fifo: it is a FIFO")
                                     << Output::Pipe;
    QTest::newRow("log file a character device")
        << QStringList{"--log-file", "/dev/null", "--list"}
        << QString("cannot write the log file /dev/null: it is a character device") << Output::Pipe;
    QTest::newRow("log file the unit's own port")
        << QStringList{"--log-file", "@pty", "--port", "@pty"}
        << QString("cannot write the log file @pty: it is a character device") << Output::Pipe;
    QTest::newRow("log file standard output, appending, with json")
        << QStringList{"--log-file", "/dev/stdout", "--json", "--list"}
        << QString(
               "cannot write the log file /dev/stdout: it is standard output, which carries the JSON events")
        << Output::AppendedFile;
    QTest::newRow("log file standard output, not appending")
        << QStringList{"--log-file", "/dev/stdout", "--list"}
        << QString("cannot write the log file /dev/stdout: it is standard output, which would write the "
                   "results over the log")
        << Output::File;
    QTest::newRow("image without family")
        << QStringList{"--install", "--image", "@fifo", "--port", "@pty"}
        << QString("--image needs --family S or L: the family the image is for") << Output::Pipe;
    QTest::newRow("family, no image") << QStringList{"--install", "--family", "S", "--port", "@pty"}
                                      << QString("--family goes with --recover or --image") << Output::Pipe;
    QTest::newRow("station record in a missing folder")
        << QStringList{"--report", "/nonexistent/station.csv", "--install", "--port", "@pty"}
        << QString("cannot write the station record /nonexistent/station.csv: No such file or directory")
        << Output::Pipe;
    QTest::newRow("station record a directory")
        << QStringList{"--report", "/", "--all", "--install"}
        << QString("cannot write the station record /: it is a directory") << Output::Pipe;
    QTest::newRow("station record a FIFO")
        << QStringList{"--report", "@fifo", "--list"}
        << QString("cannot write the station record @fifo: it is a FIFO") << Output::Pipe;
    // Three different files, whatever their names: "@image" is a good image, "@hard-link" another name of it.
    QTest::newRow("station record the image, by another name")
        << QStringList{"--install", "--image",     "@image", "--family", "S",
                       "--report",  "@same-image", "--port", "@pty"}
        << QString(
               "cannot write the station record @same-image: it is the file of --image (@image); the station "
               "record, the log and the image must be three different files")
        << Output::Pipe;
    QTest::newRow("station record the log file")
        << QStringList{"--list", "--report", "@image", "--log-file", "@hard-link"}
        << QString("cannot write the station record @image: it is the file of --log-file (@hard-link)")
        << Output::Pipe;
    QTest::newRow("log file the image")
        << QStringList{"--install",  "--image",    "@image", "--family", "S",
                       "--log-file", "@hard-link", "--port", "@pty"}
        << QString("cannot write the log file @hard-link: it is the file of --image (@image)")
        << Output::Pipe;
    QTest::newRow("serial twice without all")
        << QStringList{"--serial", "TV1", "--serial", "TV2"}
        << QString("--serial is given once, or once per unit with --all") << Output::Pipe;
    QTest::newRow("serial with port") << QStringList{"--serial", "TV1", "--port", "@pty"}
                                      << QString("--serial and --port cannot be combined") << Output::Pipe;
}

void tst_Flash::wrongUsageExitsWith2()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QFETCH(Output, output);
    const QTemporaryDir dir;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const QString pty = QString::fromLocal8Bit(ptsname(master));
    const int slave = ::open(qPrintable(pty), O_RDWR | O_NOCTTY); // the line stays up
    QVERIFY(mkfifo(qPrintable(dir.filePath("fifo")), 0600) == 0);
    const QString image = dir.filePath("fw.txt");
    QVERIFY(TestImage::writeFile(image, TestImage::small()));
    QVERIFY(::link(qPrintable(image), qPrintable(dir.filePath("hard.log"))) == 0);
    arguments << error; // its files named as the arguments name them
    arguments.replaceInStrings("@fifo", dir.filePath("fifo")).replaceInStrings("@pty", pty);
    arguments.replaceInStrings("@same-image", dir.path() + "/./fw.txt").replaceInStrings("@image", image);
    arguments.replaceInStrings("@hard-link", dir.filePath("hard.log"));
    error = arguments.takeLast();
    const Run run = flash(arguments, false, output == Output::Pipe ? QString() : dir.filePath("out"),
                          output == Output::AppendedFile ? QIODevice::Append : QIODevice::Truncate);
    char line[256];
    const ssize_t sent = ::read(master, line, sizeof line);
    ::close(slave);
    ::close(master);
    QCOMPARE(sent, ssize_t(-1)); // nothing went onto the line
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith("talvo-flash: " + error) && run.err.endsWith("\nTry 'talvo-flash --help'.\n"),
             qPrintable(run.err));
}

void tst_Flash::helpExplainsTheOptions()
{
    const Run run = flash({"--help"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains("  5    written whole, but the unit's loader cannot verify"));
    for (const char *word :
         {"--port <path>", "--install", "--downgrade", "--verify", "--fast", "--recover", "--family <S|L>",
          "--verbose", "--list", "--json", "--quiet", "--version", "--log-file <path>", "Exit status",
          "  3    no unit found", "  4    a unit was found", "130", "1240", "223"})
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

void tst_Flash::verboseShowsTheDebugLog_data()
{
    QTest::addColumn<QByteArray>("rules");
    QTest::addColumn<bool>("workerLines");
    QTest::addColumn<bool>("controllerLines");
    QTest::newRow("no rules") << QByteArray() << true << true;
    QTest::newRow("one category off") << QByteArray("talvo.worker.debug=false") << false << true;
    QTest::newRow("all talvo off") << QByteArray("talvo.*.debug=false") << false << false;
}

// --verbose shows the debug lines on standard error; QT_LOGGING_RULES keeps a category's lines out
// of it and out of the log file, whose lines name their category.
void tst_Flash::verboseShowsTheDebugLog()
{
    QFETCH(QByteArray, rules);
    QFETCH(bool, workerLines);
    QFETCH(bool, controllerLines);

    auto unit = startUnit("49.01(1623)");
    const QTemporaryDir dir;
    const QString logPath = dir.filePath("flash.log");
    qputenv("QT_LOGGING_RULES", rules);
    const Run run = flash({"--verbose", "--port", unit->portPath(), "--log-file", logPath});
    qunsetenv("QT_LOGGING_RULES");
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith("Model:             Talvo\n"));
    QCOMPARE(run.err.contains("Version      : \"49.01(1623)\""), workerLines);
    QCOMPARE(run.err.contains("Status       : OK"), controllerLines);
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logText = QString::fromUtf8(log.readAll());
    QCOMPARE(logText.contains(" talvo.worker: Version      : \"49.01(1623)\"\n"), workerLines);
    QCOMPARE(logText.contains(" talvo.controller: Status       : OK\n"), controllerLines);
}

void tst_Flash::noUsableUnitExitsWith3Or4_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("words");
    QTest::newRow("silent unit") << "silent" << 3 << "no Talvo unit answers on";
    QTest::newRow("no such device") << "missing" << 3 << "does not exist";
    QTest::newRow("held by another program") << "held" << 4 << "is held by another program";
    QTest::newRow("no access") << "no access" << 4
                               << "(permission denied)\nGive your user read and write "
                                  "access: join the dialout group with\n  sudo usermod -aG "
                                  "dialout $USER\n";
}

void tst_Flash::noUsableUnitExitsWith3Or4()
{
    QFETCH(QString, situation);
    QFETCH(int, exitCode);
    QFETCH(QString, words);

    auto unit = startUnit("49.05(1799),Talvo 400S");
    unit->setSilent(situation == "silent");
    const QString path = situation == "missing" ? QString("/dev/talvo-flash-test-none") : unit->portPath();
    const int holder = preparePort(situation, unit->portPath());
    const Run run = flash({"--port", path}, situation == "no access");
    ::close(holder);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith("Error: ") && run.err.contains(path) && run.err.contains(words),
             qPrintable(run.err));
    QCOMPARE(unit->handshakesAnswered(), 0);
}

void tst_Flash::searchOfTheMachinesPortsWithoutUnitExitsWith3()
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.vendorIdentifier() == UNIT_VENDOR_ID && info.productIdentifier() == UNIT_PRODUCT_ID)
            QSKIP("a unit is connected to this machine");
    }
    const Run run = flash({});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QString("Error: no Talvo unit found (is it connected and switched on?)\n"));
}

void tst_Flash::downgradeIsRefusedWithoutTheOption_data()
{
    QTest::addColumn<QByteArray>("versionText");
    QTest::newRow("newer version") << QByteArray("52.09(2500),Talvo 400 L");
    // A field too long for a number cannot be compared: it counts as newer.
    QTest::newRow("version not comparable") << QByteArray("99999999999999999999.05(2500),Talvo 400L");
    // The window's rule too (tst_updatedriver): a major that is no number is no update, but a downgrade.
    QTest::newRow("major not a number") << QByteArray("x.05(2500),Talvo 400L");
}

void tst_Flash::downgradeIsRefusedWithoutTheOption()
{
    QFETCH(QByteArray, versionText);
    auto unit = startUnit(versionText);
    const Run run = flash({"--install", "--port", unit->portPath()});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.startsWith("Model:             Talvo 400 L\n"), qPrintable(run.out));
    QVERIFY2(run.out.contains("Update available:  no"), qPrintable(run.out));
    QVERIFY(!run.out.contains("Update successful!"));
    QVERIFY2(run.err.contains(versionText.left(versionText.indexOf('('))) && run.err.contains("--downgrade"),
             qPrintable(run.err));
    QCOMPARE(unit->framesReceived(), 0);
}

void tst_Flash::eachRunEndsWithItsStatusAndWords_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("arguments"); // PORT: the unit's device, NAME: its name below /dev
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // all of standard output
    QTest::addColumn<QString>("err"); // contained in standard error; empty: nothing there
    const QStringList list{"--list", "--port", "PORT"}, quiet{"--quiet", "--port", "PORT"};
    QTest::newRow("list: found") << "" << list << 0 << "PORT: found Talvo 400 S, version 49.05\n"
                                 << "";
    QTest::newRow("list: bare name") << "" << QStringList{"--list", "--port", "NAME"} << 0
                                     << "PORT: found Talvo 400 S, version 49.05\n"
                                     << "";
    QTest::newRow("list: silent") << "silent" << list << 3 << "PORT: silent (nothing answered)\n"
                                  << "";
    QTest::newRow("list: not understood")
        << "wrong count" << list << 4 << "PORT: not understood (received \"52.02(2316),Talvo 400L\")\n"
        << "";
    QTest::newRow("list: rejected text, then the loader's refusals")
        << "wrong count, refused again" << list << 4
        << "PORT: not understood (received \"52.02(2316),Talvo 400L\")\n"
        << "";
    QTest::newRow("list: babbling, cut")
        << "babbling" << list << 4
        << "PORT: not understood (received \"" + QString(80, 'U') + "\"... (BYTES))\n"
        << "";
    QTest::newRow("list: in its loader")
        << "stranded" << list << 4
        << "PORT: in its loader (firmware missing or incomplete; restore with --recover)\n"
        << "";
    QTest::newRow("list: busy") << "held" << list << 4 << "PORT: busy (held by another program)\n"
                                << "";
    QTest::newRow("list: no access") << "no access" << list << 4 << "PORT: no access (permission denied)\n"
                                     << "";
    QTest::newRow("quiet: found") << "" << quiet << 0 << ""
                                  << "";
    QTest::newRow("quiet: silent") << "silent" << quiet << 3 << ""
                                   << "Error: no Talvo unit answers on PORT";
    QTest::newRow("regular file") << "" << QStringList{"--port", TALVO_SOURCE_DIR "/README.md"} << 2 << ""
                                  << "README.md is a regular file, not a serial device";
    QTest::newRow("directory") << "" << QStringList{"--port", TALVO_SOURCE_DIR} << 2 << ""
                               << "is a directory, not a serial device";
    QTest::newRow("null device")
        << "" << QStringList{"--port", "/dev/null"} << 2 << ""
        << "/dev/null is a character device that is no terminal, not a serial device";
    QTest::newRow("FIFO") << "fifo" << QStringList{"--install", "--port", "FIFO"} << 2 << ""
                          << "is a FIFO (named pipe), not a serial device";
    QTest::newRow("version") << "" << QStringList{"--version"} << 0
                             << "talvo-flash 1.0.0.1\nFirmware S: 49.09\nFirmware L: 52.05\n"
                             << "";
}

void tst_Flash::eachRunEndsWithItsStatusAndWords()
{
    QFETCH(QString, situation);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    auto unit =
        startUnit(situation.startsWith("wrong count") ? "52.02(2316),Talvo 400L" : "49.05(1799),Talvo 400S");
    unit->setSilent(situation == "silent");
    unit->setAnswersHandshakeInLoader(situation != "wrong count, refused again");
    unit->setBabbling(situation == "babbling");
    const QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    QVERIFY(situation != "fifo" || ::mkfifo(qPrintable(fifo), 0600) == 0);
    if (situation == "stranded")
        unit->loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS, QByteArray(2, '\xFF'));
    const int holder = preparePort(situation, unit->portPath());
    arguments.replaceInStrings("PORT", unit->portPath()).replaceInStrings("NAME", unit->portPath().mid(5));
    arguments.replaceInStrings("FIFO", fifo);
    const Run run = flash(arguments, situation == "no access");
    ::close(holder);
    QCOMPARE(run.exitCode, exitCode);
    // A babbling port: the first 80 bytes, then the count of all.
    const QString all = QRegularExpression("\\(\\d+ bytes in all\\)").match(run.out).captured();
    QCOMPARE(run.out, out.replace("PORT", unit->portPath()).replace("(BYTES)", all));
    QVERIFY2(err.isEmpty() ? run.err.isEmpty() : run.err.contains(err.replace("PORT", unit->portPath())),
             qPrintable(run.err));
    // A list only asks: no loader frame reaches a unit that answered.
    if (situation != "silent")
        QCOMPARE(unit->framesReceived() > 0, situation == "stranded");
}

// Three full installations side by side (each takes its time on the line): an update with its
// output in pipes, a downgrade with standard error on a terminal, and a verified downgrade over a
// version that cannot be compared, with --json and --log-file.
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
    QTemporaryDir dir;
    const QString logPath = dir.filePath("flash.log");
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::WriteOnly) && log.write("earlier run\n") == 12);
    log.close();

    auto unitS = startUnit("49.05(1799),Talvo 400S");
    auto unitL = startUnit("52.09(2500),Talvo 400 L");
    auto unitJson = startUnit("49.99999999999999999999(1799),Talvo 400S");
    QProcess update, downgrade, json;
    downgrade.setStandardErrorFile(terminalPath);
    update.start(TALVO_FLASH_PATH, {"--install", "--port", unitS->portPath()});
    downgrade.start(TALVO_FLASH_PATH, {"--install", "--downgrade", "--port", unitL->portPath()});
    json.start(TALVO_FLASH_PATH, {"--install", "--downgrade", "--verify", "--json", "--log-file", logPath,
                                  "--port", unitJson->portPath()});
    QVERIFY(QTest::qWaitFor(
        [&] {
            return update.state() == QProcess::NotRunning && downgrade.state() == QProcess::NotRunning &&
                   json.state() == QProcess::NotRunning;
        },
        2 * RUN_TIMEOUT_MS));

    // In pipes: the results on standard output, one percentage line per step on standard error.
    QCOMPARE(update.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(update.readAllStandardOutput()), QString("Model:             Talvo 400 S\n"
                                                                        "Installed version: 49.05\n"
                                                                        "Carried version:   49.09\n"
                                                                        "Update available:  yes\n"
                                                                        "Update successful!\n"));
    QStringList expected;
    for (int percent = 1; percent <= 100; ++percent)
        expected << QString("%1 %").arg(percent);
    QCOMPARE(QString::fromUtf8(update.readAllStandardError()).split('\n', Qt::SkipEmptyParts), expected);
    QCOMPARE(unitS->memory(0, int(SimulatedUnit::MEMORY_SIZE)),
             TestImage::memoryImage(imageS, int(SimulatedUnit::MEMORY_SIZE)));

    // On a terminal: one bar redrawn in place, from the first step to the full bar.
    QCOMPARE(downgrade.exitCode(), 0);
    QVERIFY(downgrade.readAllStandardOutput().endsWith("Update successful!\n"));
    QVERIFY(QTest::qWaitFor([&] { return screen.contains("] 100 %"); }, 5000));
    ::close(terminal);
    QVERIFY2(screen.contains("\r[----------------------------------------]   1 %"),
             screen.left(300).constData());
    QVERIFY(screen.contains("\r[####################--------------------]  50 %"));
    QVERIFY(screen.contains("\r[########################################] 100 %"));
    QVERIFY(!screen.contains("\n50 %"));
    QCOMPARE(unitL->memory(0, int(SimulatedUnit::MEMORY_SIZE)),
             TestImage::memoryImage(imageL, int(SimulatedUnit::MEMORY_SIZE)));

    // --json: one object per line, the events in their order (repeats of one event taken as one),
    // the result last.
    QCOMPARE(json.exitCode(), 0);
    QCOMPARE(json.readAllStandardError(), QByteArray());
    QList<QJsonObject> objects;
    QStringList events;
    for (const QByteArray &line : json.readAllStandardOutput().split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        QVERIFY2(document.isObject() || line.isEmpty(), line.constData());
        if (line.isEmpty())
            continue;
        objects << document.object();
        const QString event =
            (objects.last().value("event").toString() + " " + objects.last().value("phase").toString())
                .trimmed();
        if (events.isEmpty() || events.last() != event)
            events << event;
    }
    QCOMPARE(events, QStringList({"unit", "phase authenticating", "phase erasing", "phase writing",
                                  "progress", "phase verifying", "verify", "result"}));
    QCOMPARE(objects.first().value("reason").toString(), QString("found"));
    QCOMPARE(objects.first().value("version").toString(), QString("49.99999999999999999999"));
    QCOMPARE(objects.first().value("update"), QJsonValue(false));
    QCOMPARE(objects.at(objects.size() - 4).value("percent").toInt(), 100);
    QCOMPARE(objects.at(objects.size() - 2).value("ok"), QJsonValue(true));
    QCOMPARE(objects.last().value("reason").toString(), QString("installed"));
    QVERIFY(objects.last().value("seconds").toDouble() > 1);
    // The result names the unit's model, as --all's table reads it.
    QVERIFY(!objects.first().value("model").toString().isEmpty());
    QCOMPARE(objects.last().value("model"), objects.first().value("model"));
    QCOMPARE(unitJson->memory(0, int(SimulatedUnit::MEMORY_SIZE)),
             TestImage::memoryImage(imageS, int(SimulatedUnit::MEMORY_SIZE)));

    // --log-file: appended, each message one line with its time.
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QCOMPARE(lines.first(), QByteArray("earlier run"));
    const QRegularExpression stamped("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
    int statusLines = 0;
    for (const QByteArray &line : lines.mid(1, lines.size() - 2)) {
        QVERIFY2(stamped.match(QString::fromUtf8(line)).hasMatch(), line.constData());
        statusLines += line.endsWith(" Status       : OK") ? 1 : 0;
    }
    QCOMPARE(statusLines, 2); // the search's and the installation's
    QVERIFY(lines.last().isEmpty());
}

void tst_Flash::failedInstallationExitsWith1()
{
    auto unit = startUnit("49.05(1799),Talvo 400S");
    unit->setPasswordPolicy(SimulatedUnit::PasswordPolicy::RefuseAlways);
    const Run run = flash({"--install", "--port", unit->portPath()});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!run.out.contains("Update successful!"));
    // The refused password erased the unit: the exact command that restores it.
    const QString command = "talvo-flash --recover --family S --port " + unit->portPath();
    QVERIFY2(run.err.endsWith("it has no firmware now and stays in its loader. Restore it with\n  " +
                              command + "\n"),
             qPrintable(run.err));
    QCOMPARE(unit->blocksWritten(), 0);
}

// Restores, verified installations, a search that meets a unit in its loader, and installations
// that outlive their reader and a closed terminal, warn at one interrupt and stop at two.
void tst_Flash::restoresVerificationAndInterrupts()
{
    const QMap<QString, QByteArray> images = carriedImages();
    QVERIFY(!images.isEmpty());
    const QStringList install{"--install", "--port", "PORT"}, verify = install + QStringList{"--verify"};
    const QStringList recover{"--recover", "--family", "S", "--port", "PORT"}, probe{"--port", "PORT"};
    const QStringList recoverL{"--recover", "--family", "l", "--port", "PORT"}, fast{"--fast"};
    const QString command = "talvo-flash --recover --family S --port PORT";
    const QString stopped = "Restore it with\n  " + command + "\n",
                  again = "Error: Restore failed; the unit stays in its loader. Try again with\n  " + command;
    const QString restored = "Verified\nRestore successful!\n", verifyFailed = "the carried firmware\n";
    const QString stoppedL = QString(stopped).replace("--family S", "--family L");
    const QString cannotVerify = "Warning: this loader cannot verify (it does not know the CRC command)";
    const QString erased =
        "Update failed after the unit was erased: it has no firmware now and stays in its loader. " + stopped;
    // A whole image, reset vector included, that differs from the memory: the unit is not in its loader.
    const QString differs = "Update failed: the whole image was written, its reset vector too, so the unit "
                            "starts what its memory holds, and that differs from the image. Install it "
                            "again; should the unit then be found in its loader, r" +
                            stopped.mid(1);
    const QString unanswered =
        "Warning: the CRC check got no usable answer from the loader: it confirmed every block";
    const QByteArray writing = "\n3 %\n", warning = "Warning: stopping now would leave the unit";
    const QList<Watched::Step> twoSigint{{writing, SIGINT}, {warning, SIGINT}};
    const auto cutAt = [&](int percent) {
        return QList<Watched::Step>{{QString("\n%1 %\n").arg(percent).toUtf8(), SIGINT}, {warning, SIGINT}};
    };
    const QStringList json{"--json", "--verbose", "--port", "PORT"};
    const QString stopResult = "{\"event\":\"result\",\"ok\":false,\"exit\":130,\"reason\":\"stopped\"";
    const QByteArray probing = "Name         :"; // the debug log's first line of a probe
    struct Row
    {
        const char *name;
        UnitSetup setup;
        QStringList arguments;
        int exitCode;
        QString out, err; // contained in the output; an empty err: nothing but progress on standard error
        QString memory;   // "S", "L": the family's image; "kept": as before; empty: not checked
        QList<Watched::Step> steps = {};
        QByteArray version = "49.05(1799),Talvo 400S";
    };
    const UnitSetup plain;
    // Restores of a unit in its loader, and of one whose application was written halfway.
    const QList<Row> restoreRows = {
        Row{"stranded unit restored", Stranded, recover, 0, restored, "", "S"},
        Row{"family given decides", Stranded, recoverL, 0, restored, "", "L"},
        Row{"loader's first answer spoilt", Stranded | SpoiltFirstReply, recover, 0, restored, "", "S"},
        Row{"running unit kept", plain, recover, 3, "", "no Talvo unit in its loader answers on PORT",
            "kept"},
        Row{"restore not verified", Stranded | FlipBlock5, recover, 1, "",
            verifyFailed +
                "Error: Restore failed: the whole image was written, but the memory of the unit "
                "differs from it. Try again with\n  " +
                command,
            ""},
        Row{"restore, check refused", Stranded | CrcRefused, recover + fast, 5,
            "Restore written, not verified\n", unanswered, "S"},
        Row{"fast restore", Stranded, recover + fast, 0, restored, "", "S"},
        Row{"restore, loader cannot verify", Stranded | NoCrcCommand, recover, 5,
            "Restore written, not verified\n", cannotVerify, "S"},
        Row{"loader reply fails its checksum", Stranded | LoaderReplyBad, recover, 3, "",
            "no Talvo unit in its loader", "kept"},
        Row{"half-written application answers junk", JunkReply, recover, 0, restored, "", "S"},
        Row{"half-written application silent", MuteReply, recover, 0, restored, "", "S"},
    };
    // Installations with the memory checked, or not checkable.
    const QList<Row> verifyRows = {
        Row{"installation verified", plain, verify, 0, "Verified\nUpdate successful!\n", "", "S"},
        Row{"installation not verified", FlipBlock5, verify, 1, "", verifyFailed + "Error: " + differs, ""},
        // Written whole and confirmed block by block, the check left unanswered: nothing differs.
        Row{"check unanswered", CrcSilent, install + fast, 5, "Update written, not verified\n", unanswered,
            "S"},
        Row{"fast installation verified", plain, install + fast, 0, "Verified\nUpdate successful!\n", "",
            "S"},
        Row{"verify, loader cannot verify", NoCrcCommand, verify, 5, "Update written, not verified\n",
            cannotVerify, "S"},
    };
    // A search that meets a loader; output into a closed reader; interrupts and cuts.
    const QList<Row> interruptRows = {
        Row{"search meets a loader", Stranded, probe, 4, "",
            QString(stopped).replace("--family S", "--family S-or-L") + "S or L: the family of", "kept"},
        Row{"output into head", IntoHead, install, 0, "", "", "S"},
        Row{"terminal closed", plain, install, 0, "Update successful!\n", "", "S", {{writing, SIGHUP}}},
        Row{"one SIGINT", plain, install, 0, "Update successful!\n", warning, "S", {{writing, SIGINT}}},
        Row{"one SIGTERM", plain, install, 0, "Update successful!\n", warning, "S", {{writing, SIGTERM}}},
        Row{"two SIGINT", plain, install, 130, "", stopped, "", twoSigint},
        Row{"cut at 12 %", Cycled, install, 130, "", stopped, "", cutAt(12)},
        Row{"cut at 60 %", Cycled, install, 130, "", stopped, "", cutAt(60)},
        Row{"cut at 99 %", Cycled, install, 130, "", stopped, "", cutAt(99)},
        Row{"L cut at 11 %", Cycled, install, 130, "", stoppedL, "", cutAt(11), "52.02(2316),Talvo 400 L"},
        Row{"L cut at 80 %", Cycled, install, 130, "", stoppedL, "", cutAt(80), "52.02(2316),Talvo 400 L"},
        // --json: a signal during the search still ends with the result line, and ends the run.
        Row{"json search stopped", Silent, json, -1, stopResult, probing, "kept", {{probing, SIGINT}}},
    };
    const QList<Row> rows = restoreRows + verifyRows + interruptRows;

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
    QStringList families; // of the interrupted runs, as their restore command names it
    for (const Row &row : rows) {
        runs.push_back(std::make_unique<Watched>());
        Watched &run = *runs.back();
        run.unit = startUnit(row.version);
        QVERIFY(setUp(*run.unit, row.setup));
        if (row.setup & IntoHead) {
            run.process.setStandardOutputProcess(&run.head);
            run.head.start("head", {"-n", "2"});
        }
        run.steps = row.steps;
        before << run.unit->memory(0, MEMORY_BYTES);
        all << arguments.size();
        arguments << row.arguments;
    }
    // In two halves: more side by side would crowd the loaders' 40 ms windows on a small machine.
    QVERIFY(runSideBySide(all.mid(0, all.size() / 2)));
    QVERIFY(runSideBySide(all.mid(all.size() / 2)));

    for (int i = 0; i < rows.size(); ++i) {
        const Row &row = rows.at(i);
        Watched &run = *runs[size_t(i)];
        const QString out = QString::fromUtf8(run.out), err = QString::fromUtf8(run.err);
        const QString words = QString(err).remove(QRegularExpression("(?m)^\\d+ %\\n"));
        const QString context = QString("%1\n%2%3").arg(row.name, out.right(100), err);
        QVERIFY2(run.exitCode() == row.exitCode && run.steps.isEmpty() && out.contains(row.out),
                 qPrintable(context));
        QVERIFY2(row.err.isEmpty() ? words.isEmpty()
                                   : err.contains(QString(row.err).replace("PORT", run.unit->portPath())),
                 qPrintable(context));
        const QByteArray memory = run.unit->memory(0, MEMORY_BYTES);
        QVERIFY2(row.memory.isEmpty() ||
                     memory == (row.memory == "kept" ? before.at(i) : images.value(row.memory)),
                 row.name);
        // "Verified" stands for the loader's CRC checks of the memory.
        QVERIFY2(!out.contains("Verified") || run.unit->framesReceived(SimulatedUnit::CMD_CRC_CHECK) > 0,
                 row.name);
        // "Unknown command" is asked once; a reply that fails its checksum is no loader's.
        QVERIFY2(!(row.setup & NoCrcCommand) || run.unit->framesReceived(SimulatedUnit::CMD_CRC_CHECK) == 1,
                 row.name);
        QVERIFY2(!(row.setup & LoaderReplyBad) || run.unit->passwordsSeen() == 0, row.name);
        if (row.exitCode == 130 || row.err.contains(erased) || row.err.contains(differs)) {
            // Stopped after the current frame of the 521 (or failed after the erase), the port released: the
            // command shown restores it, also after the unit was switched off and on, when it starts in its
            // loader.
            QVERIFY2(run.unit->blocksWritten() < 521 || row.exitCode != 130, row.name);
            const QRegularExpression shown("talvo-flash (--recover --family ([SL]) --port \\S+)\n");
            const QRegularExpressionMatch printed = shown.match(err);
            QVERIFY2(printed.hasMatch(), qPrintable(context));
            arguments[i] = printed.captured(1).split(' ');
            families << printed.captured(2);
            if (row.setup & Cycled) {
                auto fresh = std::make_unique<SimulatedUnit>();
                fresh->loadMemory(0, run.unit->memory(0, MEMORY_BYTES));
                fresh->setVersionText(row.version);
                run.unit->stop();
                QVERIFY(fresh->start());
                QVERIFY2(fresh->mode() == SimulatedUnit::Mode::Loader, row.name);
                arguments[i].replaceInStrings(run.unit->portPath(), fresh->portPath());
                run.unit = std::move(fresh);
            }
            run.err.clear();
            interrupted << i;
        }
    }
    QVERIFY(runSideBySide(interrupted));
    for (int i : interrupted) {
        QVERIFY2(runs[size_t(i)]->exitCode() == 0, runs[size_t(i)]->err.constData());
        QCOMPARE(runs[size_t(i)]->unit->memory(0, MEMORY_BYTES), images.value(families.takeFirst()));
    }
}

// Several units side by side in one run: each unit's lines under its port, then a table; the exit
// status is 0 only when every unit was installed. Interrupts reach every unit's run.
void tst_Flash::allInstallsOnEveryUnitAtOnce()
{
    const QMap<QString, QByteArray> images = carriedImages();
    QVERIFY(!images.isEmpty());
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
                         (run.units[u]->memory(0, MEMORY_BYTES) == images.value(family) &&
                          (out + err).contains(QString("[%1] 100 %\n").arg(port))),
                     qPrintable(port + "\n" + context));
            QVERIFY2(row.results.at(int(u)).startsWith("installed") ||
                         run.units[u]->memory(0, MEMORY_BYTES) != images.value(family),
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
        if (info.vendorIdentifier() == UNIT_VENDOR_ID && info.productIdentifier() == UNIT_PRODUCT_ID)
            QSKIP("a unit is connected to this machine");
    }
    const Run run = flash({"--all", "--install"});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QString("Error: no Talvo unit found (is it connected and switched on?)\n"));
}

// A unit's run killed under --all: its model, its row and the command that restores the unit are
// still told; its temporary files are gone.
void tst_Flash::allTellsOfAKilledRun()
{
    std::vector<std::unique_ptr<SimulatedUnit>> units;
    units.push_back(startUnit("52.02(2316),Talvo 400 L"));
    units.push_back(startUnit());
    const QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("tmp")));
    const QString record = dir.filePath("station.csv"), port = units[0]->portPath();
    TestProcess station;
    station.setVariables(
        {{"TMPDIR", dir.filePath("tmp")},
         {"TALVO_EXTRA_PORTS", QString("%1=TV0001;%2=TV0002").arg(port, units[1]->portPath())}});
    station.setProcessChannelMode(QProcess::MergedChannels);
    station.start(TALVO_FLASH_PATH, {"--all", "--install", "--fast", "--report", record});
    QVERIFY(!station.waitForLine(QString("[%1] 3 %").arg(port.mid(5)).toUtf8(), RUN_TIMEOUT_MS).isEmpty());
    // The run on that unit: a child of the station's with the unit's port among its arguments.
    pid_t run = 0;
    QFile children(QString("/proc/%1/task/%1/children").arg(station.processId()));
    QVERIFY(children.open(QIODevice::ReadOnly));
    for (const QByteArray &child : children.readAll().split(' ')) {
        QFile arguments("/proc/" + child + "/cmdline");
        if (arguments.open(QIODevice::ReadOnly) && arguments.readAll().split('\0').contains(port.toUtf8()))
            run = pid_t(child.toInt());
    }
    QVERIFY(run > 0 && ::kill(run, SIGKILL) == 0);
    QVERIFY(station.waitForFinished(RUN_TIMEOUT_MS));
    const QString output = QString::fromUtf8(station.output());
    QVERIFY2(station.exitCodeOr(-1) == 1 &&
                 QRegularExpression(QString("\n%1 +Talvo 400 L +crashed +- +\\d").arg(port.mid(5)))
                     .match(output)
                     .hasMatch() &&
                 output.contains(
                     QString("\n[%1]   talvo-flash --recover --family L --port %2\n").arg(port.mid(5), port)),
             qPrintable(output));
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString rows = QString::fromUtf8(file.readAll());
    const QRegularExpression row(
        QString(",install,%1,,TV0001,Talvo 400 L,L,52.02,,[0-9a-f]{64},crashed,137,no,")
            .arg(QRegularExpression::escape(port)));
    QVERIFY2(row.match(rows).hasMatch(), qPrintable(rows));
    QCOMPARE(QDir(dir.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// The station record: a row for each unit as its run ends, whole, also when the station is killed.
void tst_Flash::stationRecordKeepsEveryFinishedRow()
{
    const QTemporaryDir dir;
    const QString record = dir.filePath("station.csv");
    std::vector<std::unique_ptr<SimulatedUnit>> units;
    QStringList listed;
    for (int i = 0; i < 5; ++i) {
        units.push_back(startUnit(i == 1 ? "52.02(2316),Talvo 400 L" : "49.05(1799),Talvo 400S"));
        listed << QString("%1=TV%2@1-1.%3")
                      .arg(units.back()->portPath())
                      .arg(i + 1, 4, 10, QChar('0'))
                      .arg(i + 1);
    }
    units[2]->addFrameFault(SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_RX_DATA_BLOCK, 1, -1));
    TestProcess station;
    station.setVariables({{"TALVO_EXTRA_PORTS", listed.mid(0, 4).join(';')}});
    station.start(TALVO_FLASH_PATH, {"--all", "--install", "--fast", "--report", record});
    QVERIFY(station.waitForFinished(RUN_TIMEOUT_MS));
    QCOMPARE(station.exitCodeOr(-1), 1);
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray four = file.readAll();
    file.close();
    QStringList rows = QString::fromUtf8(four).split("\r\n");
    QCOMPARE(rows.takeLast(), QString()); // every row ends its line
    QCOMPARE(rows.size(), 5);
    QVERIFY2(
        rows.takeFirst().startsWith("time,program version,action,port,USB location,USB serial number,"
                                    "model,family,version found,version installed,image SHA-256,result,"),
        four.constData());
    // Per unit: port, location, serial number, model, family, found, installed, result, status, verified.
    const QStringList expected = {"1-1.1 TV0001 Talvo 400 S S 49.05 49.09 installed 0 yes",
                                  "1-1.2 TV0002 Talvo 400 L L 52.02 52.05 installed 0 yes",
                                  "1-1.3 TV0003 Talvo 400 S S 49.05  failed 1 no",
                                  "1-1.4 TV0004 Talvo 400 S S 49.05 49.09 installed 0 yes"};
    for (int i = 0; i < 4; ++i) {
        const QStringList row = rows.filter(units[size_t(i)]->portPath() + ",");
        QVERIFY2(row.size() == 1, four.constData());
        const QStringList fields = row.first().split(',');
        QCOMPARE(fields.size(), 16);
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$")
                         .match(fields.at(0))
                         .hasMatch() &&
                     fields.at(2) == "install" &&
                     QRegularExpression("^[0-9a-f]{64}$").match(fields.at(10)).hasMatch(),
                 qPrintable(row.first()));
        QCOMPARE((fields.mid(4, 6) + fields.mid(11, 3)).join(' '), expected.at(i));
    }
    // A fifth run killed while it writes the unit: the rows before stay, and nothing of its own is there.
    TestProcess fifth;
    fifth.setProcessChannelMode(QProcess::MergedChannels);
    fifth.start(TALVO_FLASH_PATH,
                {"--install", "--fast", "--report", record, "--port", units[4]->portPath()});
    QVERIFY(!fifth.waitForLine("3 %", RUN_TIMEOUT_MS).isEmpty());
    fifth.kill();
    QVERIFY(fifth.waitForFinished());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), four);
}

void tst_Flash::stationRowsAreWholeAndHarmless_data()
{
    QTest::addColumn<QString>("setup");  // "limit": no room for the row; "held...": another's lock on it
    QTest::addColumn<QString>("serial"); // the port's USB serial number
    QTest::addColumn<QStringList>("arguments"); // PORT, RECORD, IMAGE: the unit's port, the files
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("words"); // each part between | is in the output
    QTest::addColumn<QString>("row");   // in the new row: in the file, or shown when it is not kept
    const QStringList probe{"--port", "PORT", "--report", "RECORD"};
    const QString found = "probe,PORT,,%1,Talvo 400 S,S,49.05,,,found,0,no,";
    QTest::newRow("no room: none of the row, the cause named")
        << "limit"
        << "TV0001" << probe << 6
        << "Error: the station record RECORD cannot be written (File too large): this row is not in it:\n"
        << found.arg("TV0001");
    QTest::newRow("no room, --json: the row in the result")
        << "limit"
        << "TV0001" << probe + QStringList{"--json"} << 6 << "\"exit\":6,|\"unrecorded\":\"20"
        << found.arg("TV0001");
    QTest::newRow("held: said, waited for, given up")
        << "held"
        << "" << probe << 6 << "the station record RECORD is held by another process|after 10 s"
        << found.arg("");
    QTest::newRow("held: Ctrl-C while waiting")
        << "held, interrupted"
        << "" << probe << 6 << "Error: stopped waiting for the station record RECORD" << found.arg("");
    QTest::newRow("a link as the record")
        << "link"
        << "" << probe << 2 << "cannot write the station record RECORD: it is a symbolic link"
        << "";
    QTest::newRow("a family refused before writing: no image SHA-256")
        << ""
        << "" << probe + QStringList{"--install", "--image", "IMAGE", "--family", "L"} << 1
        << "nothing was written"
        << "Talvo 400 S,S,49.05,,,refused,1,no,";
    QTest::newRow("a formula as serial number is neutralised")
        << ""
        << "=HYPERLINK(\"http://x\")" << probe << 0 << "" << found.arg("\"'=HYPERLINK(\"\"http://x\"\")\"");
    QTest::newRow("and a sum; the versions are not") << ""
                                                     << "-2+3" << probe << 0 << "" << found.arg("'-2+3");
    QTest::newRow("control characters in a listed serial number are shown escaped")
        << ""
        << "A\x1b[2J\nFAKE: found Talvo 800 L" << QStringList{"--list", "--port", "PORT"} << 0
        << "PORT: found Talvo 400 S, version 49.05 [USB serial number A\\x1b[2J\\x0aFAKE: found Talvo 800 "
           "L]\n"
        << "";
    QTest::newRow("and in the debug log")
        << ""
        << "A\x1b[2J" << QStringList{"--verbose", "--port", "PORT"} << 0 << "serial number A\\x1b[2J"
        << "";
}

// A row goes into the station record whole or not at all, and then the station sees it elsewhere;
// text from a unit or its port reaches neither a spreadsheet nor a terminal as a command.
void tst_Flash::stationRowsAreWholeAndHarmless()
{
    QFETCH(QString, setup);
    QFETCH(QString, serial);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, words);
    QFETCH(QString, row);
    auto unit = startUnit();
    const QTemporaryDir dir;
    const QString record = dir.filePath("station.csv"), image = dir.filePath("fw.txt");
    const QByteArray before = "time,program version\r\nan earlier row\r\n";
    QFile file(setup == "link" ? dir.filePath("notes.csv") : record);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
    file.close();
    QVERIFY(setup != "link" || QFile::link(file.fileName(), record));
    QVERIFY(TestImage::writeFile(image, TestImage::small()));
    const int holder = setup.startsWith("held") ? ::open(qPrintable(record), O_RDONLY | O_CLOEXEC) : -1;
    QVERIFY(holder < 0 || ::flock(holder, LOCK_EX) == 0);
    const QString port = unit->portPath();
    arguments.replaceInStrings("PORT", port)
        .replaceInStrings("RECORD", record)
        .replaceInStrings("IMAGE", image);
    TestProcess process;
    if (!serial.isEmpty())
        process.setVariables({{"TALVO_EXTRA_PORTS", port + '=' + serial}});
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.fileSizeLimit = setup == "limit" ? before.size() + 40 : -1;
    process.start(TALVO_FLASH_PATH, arguments);
    if (setup == "held, interrupted") {
        QVERIFY(!process.waitForLine("is held by another process", RUN_TIMEOUT_MS).isEmpty());
        ::kill(pid_t(process.processId()), SIGINT);
    }
    QVERIFY(process.waitForFinished(RUN_TIMEOUT_MS));
    if (holder >= 0)
        ::close(holder);
    const QString output = QString::fromUtf8(process.output());
    QVERIFY2(process.exitCodeOr(-1) == exitCode && !output.contains('\x1b'), qPrintable(output));
    for (const QString &part : words.replace("RECORD", record).replace("PORT", port).split('|'))
        QVERIFY2(output.contains(part), qPrintable(output));
    // A row kept is added whole; one not kept leaves the file as it was and is shown instead.
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    const QString added = QString::fromUtf8(after.mid(before.size()));
    QVERIFY2(after.startsWith(before) &&
                 added.count("\r\n") ==
                     (exitCode == 6 || exitCode == 2 || !arguments.contains("--report") ? 0 : 1) &&
                 (added.isEmpty() || added.endsWith("\r\n")),
             after.constData());
    QVERIFY2((exitCode == 6 ? output : added).contains(row.replace("PORT", port)),
             qPrintable(output + added));
}

// On a terminal --all keeps one line per unit and redraws them in place; errors come above them.
void tst_Flash::allOnATerminalRedrawsALinePerUnit()
{
    std::vector<std::unique_ptr<SimulatedUnit>> units;
    units.push_back(startUnit());
    units.push_back(startUnit("52.02(2316),Talvo 400 L"));
    units.back()->addFrameFault(SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_RX_DATA_BLOCK, 1, -1));
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const QString terminal = QString::fromLocal8Bit(ptsname(master));
    TestProcess process;
    process.setVariables({{"TALVO_EXTRA_PORTS",
                           QString("%1=TV0001;%2=TV0002").arg(units[0]->portPath(), units[1]->portPath())},
                          {"TERM", "xterm"}});
    process.setStandardOutputFile(terminal);
    process.setStandardErrorFile(terminal);
    process.start(TALVO_FLASH_PATH, {"--all", "--install", "--fast"});
    QByteArray screen;
    char buffer[4096];
    QElapsedTimer clock;
    clock.start();
    for (bool ended = false; !ended && clock.elapsed() < RUN_TIMEOUT_MS;) {
        ended = process.waitForFinished(50);
        for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;)
            screen.append(buffer, int(got));
    }
    ::close(master);
    QCOMPARE(process.exitCodeOr(-1), 1);
    screen.replace("\r\n", "\n");
    const QString port0 = units[0]->portPath().mid(5), port1 = units[1]->portPath().mid(5);
    // The last drawing of the lines (after the last "go up two lines"), then the table.
    const QString last = QString::fromUtf8(screen.mid(screen.lastIndexOf("\x1b[2A")));
    QVERIFY2(screen.count("\x1b[2A") > 2 && !screen.contains(QString("[%1] 5 %").arg(port0).toUtf8()),
             screen.right(600).constData());
    QVERIFY2(
        QRegularExpression(QString("\r\x1b\\[J%1 +TV0001 +Talvo 400 S +installed +\\[#{20}\\] +100 %\n"
                                   "%2 +TV0002 +Talvo 400 L +failed +\\[-{20}\\][^\n]*\n\n"
                                   "port +model +result +status +seconds\n")
                               .arg(QRegularExpression::escape(port0), QRegularExpression::escape(port1)))
            .match(last)
            .hasMatch(),
        qPrintable(last));
    QVERIFY2(screen.contains(QString("[%1] Error: ").arg(port1).toUtf8()), screen.constData());
}

void tst_Flash::restoresTakeOnlyTheUnitsOwnEntry_data()
{
    // Units listed with USB serial numbers TV0001, TV0002...: "S", "L" running, "S-", "L-" in their
    // loader, "S!" refusing every block from the third on; PORTn is unit n's port. After the run each
    // unit's memory holds "S", "L" (the image) or is "kept"; `noted`: the journal's sections then.
    QTest::addColumn<QStringList>("units");
    QTest::addColumn<QString>("journal");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("words");
    QTest::addColumn<QStringList>("memory");
    QTest::addColumn<QString>("noted");
    const QString notedL = "[TV0002]\nfamily=2\n", recover = "--recover";
    QTest::newRow("the printed command names the family noted")
        << QStringList{"S-", "L-"} << notedL << QStringList{} << 4
        << "--family S-or-L --port PORT1\nError: a Talvo unit in its loader answers on PORT2: its firmware "
           "is "
           "missing or incomplete. Restore it with\n  talvo-flash --recover --family L --port PORT2\n"
        << QStringList{"kept", "kept"} << "TV0002";
    QTest::newRow("not noted: the family left to choose, also in JSON")
        << QStringList{"L-"} << "" << QStringList{"--json"} << 4
        << "Restore it with talvo-flash --recover --family S-or-L --port PORT1\"" << QStringList{"kept"}
        << "";
    QTest::newRow("another unit's entry is not taken")
        << QStringList{"S", "L-"} << "[TV0001]\nfamily=1\n"
        << QStringList{recover} << 2 << "the unit in its loader on PORT2 is not noted"
        << QStringList{"kept", "kept"} << "TV0001";
    QTest::newRow("conflicting entries are not taken")
        << QStringList{"L-"} << "[TV0001]\nfamily=2\n[TV0001]\nfamily=1\n"
        << QStringList{recover} << 2 << "is not noted" << QStringList{"kept"} << "TV0001";
    QTest::newRow("two listed units: the noted one restored, its entry cleared")
        << QStringList{"S", "L-"} << notedL << QStringList{recover, "--fast"} << 0
        << "Family:            L\nCarried version:   52.05\nVerified\nRestore successful!\n"
        << QStringList{"kept", "L"} << "";
    QTest::newRow("a given port: its unit's entry by the port list")
        << QStringList{"L-", "S-"} << notedL + "[TV0001]\nfamily=1\n"
        << QStringList{recover, "--fast", "--port", "PORT2"} << 0 << "Family:            L\n"
        << QStringList{"kept", "L"} << "TV0001";
    QTest::newRow("a restore with --family clears the unit's entry")
        << QStringList{"L-"} << "[TV0001]\nfamily=2\n"
        << QStringList{recover, "--family", "L", "--fast", "--port", "PORT1"} << 0 << "Restore successful!"
        << QStringList{"L"} << "";
    QTest::newRow("a given port notes the unit before the erase")
        << QStringList{"S!"} << "" << QStringList{"--install", "--fast", "--port", "PORT1"} << 1
        << "talvo-flash --recover --family S --port PORT1\n"
        << QStringList{""} << "TV0001";
    QTest::newRow("a journal that cannot note the unit: a warning before the password")
        << QStringList{"S"} << "LINK" << QStringList{"--install", "--fast", "--json", "--port", "PORT1"} << 0
        << "(it is a symbolic link): if this is cut off, its family must be told to restore it\"}\n"
           "{\"event\":\"phase\",\"phase\":\"authenticating\"}"
        << QStringList{"S"} << "";
    QTest::newRow("a journal lock that is a FIFO: a warning, no wait")
        << QStringList{"S"} << "LOCK FIFO" << QStringList{"--install", "--fast", "--port", "PORT1"} << 0
        << "journal.ini.lock cannot be taken (it is a FIFO)): if this is cut off" << QStringList{"S"} << "";
    // Units by their USB serial number: the others are left alone.
    QTest::newRow("--serial picks the one unit of three")
        << QStringList{"S", "S", "S"} << "" << QStringList{"--install", "--fast", "--serial", "TV0002"} << 0
        << "Update successful!" << QStringList{"kept", "S", "kept"} << "";
    QTest::newRow("--serial: the restore command names it, not the port")
        << QStringList{"S!"} << "" << QStringList{"--install", "--fast", "--serial", "TV0001"} << 1
        << "\n  talvo-flash --recover --family S --serial TV0001\n"
        << QStringList{""} << "TV0001";
    QTest::newRow("--serial that no port has")
        << QStringList{"S", "S"} << "" << QStringList{"--install", "--serial", "TV0009"} << 3
        << "Error: no port has a unit with the USB serial number TV0009" << QStringList{"kept", "kept"} << "";
    QTest::newRow("--all --serial with one missing starts nothing")
        << QStringList{"S", "S"} << ""
        << QStringList{"--all", "--install", "--serial", "TV0001", "--serial", "TV0009"} << 3
        << "USB serial number TV0009 (" << QStringList{"kept", "kept"} << "";
    QTest::newRow("--recover --serial")
        << QStringList{"S-", "L-"} << ""
        << QStringList{"--recover", "--family", "L", "--fast", "--serial", "TV0002"} << 0
        << "Restore successful!" << QStringList{"kept", "L"} << "";
    QTest::newRow("--list --serial tells the serial number")
        << QStringList{"S", "L"} << "" << QStringList{"--list", "--serial", "TV0002"} << 0
        << "PORT2: found Talvo 400 L, version 52.02 [USB serial number TV0002]\n"
        << QStringList{"kept", "kept"} << "";
    QTest::newRow("--list --json tells serial numbers")
        << QStringList{"S", "L"} << "" << QStringList{"--list", "--json"} << 0
        << "\"detail\":null,\"serialNumber\":\"TV0002\",\"usbLocation\":null}" << QStringList{"kept", "kept"}
        << "";
    // "L-=DUP": a unit listed with the USB serial number DUP, which two ports show.
    QTest::newRow("a serial number two ports show is not read: the L entry is not written into S")
        << QStringList{"L=DUP", "S-=DUP"} << "[DUP]\nfamily=2\n"
        << QStringList{recover, "--fast", "--port", "PORT2"} << 2
        << "on PORT2 is not known to the journal: its USB serial number DUP is shown by PORT1 too"
        << QStringList{"kept", "kept"} << "DUP";
    QTest::newRow("a shared serial number: the printed command asks for the family")
        << QStringList{"L-=DUP", "S=DUP"} << "[DUP]\nfamily=2\n"
        << QStringList{"--port", "PORT1"} << 4 << "--family S-or-L --port PORT1\n"
        << QStringList{"kept", "kept"} << "DUP";
    QTest::newRow("a shared serial number is not written before the erase, nor cleared")
        << QStringList{"S=DUP", "L=DUP"} << "[DUP]\nfamily=2\n"
        << QStringList{"--install", "--fast", "--port", "PORT1"} << 0
        << "cannot note the unit DUP (the USB serial number DUP is shown by more than one port (PORT1, PORT2)"
        << QStringList{"S", "kept"} << "DUP";
    QTest::newRow("--serial shared by two ports is refused")
        << QStringList{"S=DUP", "S=DUP"} << "" << QStringList{"--install", "--serial", "DUP"} << 2
        << "Error: the USB serial number DUP is shown by more than one port (PORT1, PORT2): it identifies no "
           "unit"
        << QStringList{"kept", "kept"} << "";
    QTest::newRow("--all --serial shared by two ports starts nothing")
        << QStringList{"S=DUP", "S=DUP", "S"} << ""
        << QStringList{"--all", "--install", "--serial", "DUP", "--serial", "TV0003"} << 2
        << "Error: the USB serial number DUP is shown by more than one port (PORT1, PORT2)"
        << QStringList{"kept", "kept", "kept"} << "";
    QTest::newRow("--list says it of each port that shares it")
        << QStringList{"S=DUP", "L=DUP"} << "" << QStringList{"--list"} << 0
        << "PORT1: found Talvo 400 S, version 49.05 [USB serial number DUP (shown by PORT2 too: it "
           "identifies no unit)]\nPORT2: found Talvo 400 L, version 52.02 [USB serial number DUP (shown by "
           "PORT1 too: it identifies no unit)]\n"
        << QStringList{"kept", "kept"} << "";
    QTest::newRow("an --all run cut on every unit notes each")
        << QStringList{"S!", "S!"} << "" << QStringList{"--all", "--install", "--fast"} << 1 << "failed"
        << QStringList{"", ""} << "TV0001 TV0002";
}

// The journal names a unit's family by its USB serial number; only the unit's own entry may choose
// the firmware that a restore writes.
void tst_Flash::restoresTakeOnlyTheUnitsOwnEntry()
{
    QFETCH(QStringList, units);
    QFETCH(QString, journal);
    QFETCH(QStringList, arguments);
    QFETCH(QString, words);
    QFETCH(QStringList, memory);
    QMap<QString, QByteArray> images = carriedImages();
    std::vector<std::unique_ptr<SimulatedUnit>> started;
    QStringList listed;
    const QTemporaryDir home;
    QFile file(home.filePath("Talvo/TalvoUpdater/journal.ini"));
    QVERIFY(QDir().mkpath(home.filePath("Talvo/TalvoUpdater")));
    if (journal == "LINK") // to a file of the user's that the journal must leave alone
        QVERIFY(QFile::link(home.filePath("notes.txt"), file.fileName()));
    QVERIFY(journal != "LOCK FIFO" || mkfifo(qPrintable(file.fileName() + ".lock"), 0600) == 0);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(journal.toUtf8());
    file.close();
    for (int i = 0; i < units.size(); ++i) {
        started.push_back(
            startUnit(units.at(i)[0] == 'S' ? "49.05(1799),Talvo 400S" : "52.02(2316),Talvo 400 L"));
        if (units.at(i).section('=', 0, 0).endsWith('-'))
            started.back()->loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS - 0x7E, QByteArray(0x80, '\xFF'));
        if (units.at(i).section('=', 0, 0).endsWith('!'))
            started.back()->addFrameFault(
                SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_RX_DATA_BLOCK, 3, -1));
        const QString port = started.back()->portPath(), tag = QString("PORT%1").arg(i + 1);
        const QString serial = units.at(i).section('=', 1);
        listed << port + '=' + (serial.isEmpty() ? QString("TV%1").arg(i + 1, 4, 10, QChar('0')) : serial);
        arguments.replaceInStrings(tag, port);
        words.replace(tag, port);
        images.insert(QString("kept%1").arg(i), started.back()->memory(0, MEMORY_BYTES));
    }
    TestProcess process;
    process.setVariables({{"XDG_DATA_HOME", home.path()}, {"TALVO_EXTRA_PORTS", listed.join(';')}});
    process.start(TALVO_FLASH_PATH, arguments);
    QVERIFY(process.waitForFinished(RUN_TIMEOUT_MS));
    const QString output = process.readAllStandardOutput() + process.readAllStandardError();
    QFETCH(int, exitCode);
    QVERIFY2(process.exitCode() == exitCode && output.contains(words), qPrintable(output));
    for (int i = 0; i < memory.size(); ++i) {
        const QString expected = memory.at(i) == "kept" ? QString("kept%1").arg(i) : memory.at(i);
        QVERIFY2(expected.isEmpty() || started[size_t(i)]->memory(0, MEMORY_BYTES) == images.value(expected),
                 qPrintable(QString("unit %1").arg(i + 1)));
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QRegularExpression section("(?m)^\\[(.*)\\]$");
    QStringList sections;
    for (auto it = section.globalMatch(file.readAll()); it.hasNext();)
        sections << it.next().captured(1);
    sections.removeDuplicates();
    sections.sort();
    QTEST(sections.join(' '), "noted");
    QVERIFY(journal != "LINK" || QFileInfo(home.filePath("notes.txt")).size() == journal.size());
}

void tst_Flash::withoutAHomeNothingIsKept_data()
{
    QTest::addColumn<QString>("dataHome"); // XDG_DATA_HOME, or none
    QTest::newRow("HOME and XDG_DATA_HOME unset") << QString();
    QTest::newRow("XDG_DATA_HOME relative, HOME unset") << "data";
}

// Qt takes an unset HOME for "/": without a per-user folder nothing is kept, at the root of the
// file system (run as root here) or in the working folder, and the run says so once.
void tst_Flash::withoutAHomeNothingIsKept()
{
    QFETCH(QString, dataHome);
    if (QFileInfo::exists("/.local"))
        QSKIP("/.local exists: what a run writes there cannot be told apart");
    auto unit = startUnit();
    const QTemporaryDir cwd;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("HOME");
    environment.remove("XDG_DATA_HOME");
    if (!dataHome.isEmpty())
        environment.insert("XDG_DATA_HOME", dataHome);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(cwd.path());
    process.start(TALVO_FLASH_PATH, {"--port", unit->portPath()});
    QVERIFY(process.waitForFinished(RUN_TIMEOUT_MS));
    const bool atTheRoot = QFileInfo::exists("/.local");
    if (atTheRoot)
        QDir("/.local").removeRecursively(); // made by this run: it was not there before
    QVERIFY(!atTheRoot);
    QCOMPARE(
        QDir(cwd.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList());
    QCOMPARE(process.exitCode(), 0);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(err, QString("Warning: no per-user folder (HOME is not set): no log and no journal are kept\n"));
}

void tst_Flash::stationImagesAreCheckedThenInstalled_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("words"); // each part between | is in the output
    const auto row = [](const char *tag, const QByteArray &image, const QString &command, int exit,
                        const QString &words) { QTest::newRow(tag) << image << command << exit << words; };
    // "@5C00" on line 1, data on lines 2 to 64, "@FFE0" on 65, the vectors on 66 and 67, "q" on 68.
    const QByteArray small = TestImage::write(TestImage::small());
    const auto plus = [&small](const char *more) {
        return QByteArray(small).replace("q\r", more + QByteArray("q\r"));
    };
    TestImage::Sections station = TestImage::read(":/fmw/s/image.txt");
    for (QByteArray &bytes : station)
        bytes.replace("FW 49.09", "FW 49.10"); // the carried S image with another version in it
    const QByteArray good = TestImage::write(station);
    const QString sha = QCryptographicHash::hash(good, QCryptographicHash::Sha256).toHex();
    const QString imageLines = "(%1 bytes, 124670 data bytes for family S)\nImage SHA-256:     %2\n";
    const QString imageFields = "\"imageFile\":\"IMAGE\",\"imageBytes\":%2,|\"imageSha256\":\"%1\"";
    row("broken line", QByteArray(small).replace("\n73 ", "\nG7 "), "--install", 2,
        "line 3 of IMAGE: field 1 \"G7\" is not");
    row("restore, below the flash", "@5BF0\r\n61\r\n" + small, "--recover", 2,
        "line 2 of IMAGE: byte 0x05bf0 lies");
    row("past the flash", plus("@45BFF\r\n61 62\r\n"), "--install", 2,
        "(line 69 of IMAGE: byte 0x45c00 lies outside the family's flash (0x05c00 to 0x45bff): \"61 62\"): ");
    row("overlap", plus("@5C10\r\n61\r\n"), "--install", 2,
        "line 69 of IMAGE: byte 0x05c10 is given twice (first on line 3)");
    row("repeated segment, json", plus("@FFFE\r\n00 5C\r\n"), "--recover --json", 2,
        "line 69 of IMAGE: byte 0x0fffe is given twice (first on line 67)|\"reason\":\"image\"");
    row("missing reset vector", QByteArray(small).replace("00 5C \r\nq", "\r\nq"), "--install", 2,
        "IMAGE: the reset vector (0xFFFE-0xFFFF) is missing");
    row("no such file", QByteArray(), "--install", 2, "IMAGE: cannot be read");
    // Rewritten in place, again and again, with another image of the same size: never a mixture.
    row("rewritten while it is read", good, "--install", 2, "IMAGE: it changed while it was read");
    row("L unit", good, "--install", 1, "is a Talvo 400 L (family L), the image is for family S: nothing");
    row("differs after writing", good, "--install --fast", 1,
        "Error: Verify failed: the memory of the unit does not match the image IMAGE\n|the whole image was "
        "written, its reset vector too");
    row("installed, verified", good, "--install", 0,
        imageLines.arg(good.size()).arg(sha) + "|Version check:     skipped|Verified\nUpdate successful!\n");
    row("restored, json", good, "--recover --fast --json", 0,
        "{\"event\":\"verify\",\"ok\":true}|\"reason\":\"restored\"|" +
            imageFields.arg(sha).arg(good.size()));
}

// A station's image is checked whole before any port is opened; one that passes is installed, verified.
void tst_Flash::stationImagesAreCheckedThenInstalled()
{
    QFETCH(QByteArray, image);
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    QFETCH(QString, words);
    const QTemporaryDir dir;
    const QString path = dir.filePath("station.txt");
    QFile file(path);
    QVERIFY(image.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(image) > 0 && file.flush()));
    auto unit = startUnit(QByteArray(QTest::currentDataTag()) == "L unit" ? "52.02(2316),Talvo 400 L"
                                                                          : "49.05(1799),Talvo 400S");
    if (command.startsWith("--recover"))
        unit->loadMemory(SimulatedUnit::RESET_VECTOR_ADDRESS - 0x7E, QByteArray(0x80, '\xFF'));
    const bool differs = QByteArray(QTest::currentDataTag()) == "differs after writing";
    if (differs)
        unit->addFrameFault(SimulatedUnit::FrameFault::storedBitFlip(SimulatedUnit::CMD_RX_DATA_BLOCK, 5));
    std::atomic<bool> rewriting{QByteArray(QTest::currentDataTag()).startsWith("rewritten")};
    TestImage::Sections other = rewriting ? TestImage::parse(image) : TestImage::Sections();
    for (QByteArray &bytes : other)
        bytes.replace("FW 49.10", "FW 49.11");
    std::thread writer([&, second = TestImage::write(other)] {
        for (int i = 0; rewriting; ++i) {
            QFile rewritten(path);
            if (rewritten.open(QIODevice::ReadWrite)) // in place, not truncated
                rewritten.write(i % 2 ? second : image);
        }
    });
    const Run run =
        flash(command.split(' ') + QStringList{"--image", path, "--family", "S", "--port", unit->portPath()});
    rewriting = false;
    writer.join();
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 2)
        words += "|Error: the image is refused for family S (|nothing was sent to the unit";
    for (const QString &text : words.replace("IMAGE", path).split('|'))
        QVERIFY2((run.out + run.err).contains(text), qPrintable(run.out + run.err));
    // Refused: not one frame; refused before the search: not one byte.
    QVERIFY(exitCode == 0 || differs ||
            (unit->framesReceived() == 0 && (exitCode != 2 || unit->receivedBytes().isEmpty())));
    if (exitCode != 0)
        return;
    QCOMPARE(unit->memory(0, MEMORY_BYTES), TestImage::memoryImage(TestImage::parse(image), MEMORY_BYTES));
    QVERIFY(unit->framesReceived(SimulatedUnit::CMD_CRC_CHECK) > 0);
    // Started again, the unit's application tells the version that its new firmware holds.
    const int at = unit->memory(0, MEMORY_BYTES).indexOf("FW ");
    unit->setVersionText(unit->memory(quint32(at) + 3, 5) + "(1799),Talvo 400S");
    unit->setMode(SimulatedUnit::Mode::Application);
    QVERIFY(flash({"--port", unit->portPath()}).out.contains("Installed version: 49.10\n"));
}

QTEST_GUILESS_MAIN(tst_Flash)
#include "tst_flash.moc"
