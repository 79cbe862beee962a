#include "logcapture.h"
#include "targetinfo.h"
#include "updateworker.h"

#include <QtTest>

// How a unit's version text becomes its model name and firmware version.
class tst_VersionText : public QObject
{
    Q_OBJECT

private slots:
    void tokensAlternateBetweenWordRunsAndOtherRuns_data();
    void tokensAlternateBetweenWordRunsAndOtherRuns();
    void versionTextGivesModelAndVersion_data();
    void versionTextGivesModelAndVersion();
};

void tst_VersionText::tokensAlternateBetweenWordRunsAndOtherRuns_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("tokens");

    QTest::newRow("bare version") << "49.01(1623)" << QStringList{"", "49", ".", "01", "(", "1623", ")"};
    QTest::newRow("type as one word")
        << "49.05(1799),Talvo 400S"
        << QStringList{"", "49", ".", "05", "(", "1799", "),", "Talvo", " ", "400S", ""};
    QTest::newRow("type as two words")
        << "52.02(2316),Talvo 400 L"
        << QStringList{"", "52", ".", "02", "(", "2316", "),", "Talvo", " ", "400", " ", "L", ""};
    QTest::newRow("blanks in the other runs")
        << "49.05 (1799), Talvo 400S"
        << QStringList{"", "49", ".", "05", " (", "1799", "), ", "Talvo", " ", "400S", ""};
    QTest::newRow("empty text") << "" << QStringList{""};
    QTest::newRow("one word") << "49" << QStringList{"", "49", ""};
    QTest::newRow("begins with another character") << "(49.01)" << QStringList{"(", "49", ".", "01", ")"};
    QTest::newRow("underscore is a word character") << "a_b-c" << QStringList{"", "a_b", "-", "c", ""};
}

void tst_VersionText::tokensAlternateBetweenWordRunsAndOtherRuns()
{
    QFETCH(QString, text);
    QFETCH(QStringList, tokens);
    QCOMPARE(UpdateWorker::versionTokens(text), tokens);
}

namespace {

const int S = TargetInfo::TARGET_TALVO_S;
const int L = TargetInfo::TARGET_TALVO_L;
const int UNKNOWN = TargetInfo::TARGET_UNKNOWN;

// A text that gives the model, its family in the catalogue, and the version.
void accepted(const char *row, const QString &text, const QString &model, int family, const QString &version)
{
    QTest::newRow(row) << text << true << model << family << version << QString();
}

void rejected(const char *row, const QString &text, const QString &failureLine)
{
    QTest::newRow(row) << text << false << QString() << UNKNOWN << QString() << failureLine;
}

} // namespace

void tst_VersionText::versionTextGivesModelAndVersion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("family");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("failureLine");

    const QString wrongCount = "UpdateWorker::getFirmwareVersion Incompatible number of tokens!";
    const QString wrong4901 =
        "UpdateWorker::getFirmwareVersion 49.01 found but incompatible number of tokens!";
    const QString noVersion = "UpdateWorker::getFirmwareVersion No version number found!";

    // The three shapes, as the units send them and with blanks around the other runs.
    accepted("7 tokens", "49.01(1623)", "Talvo", S, "49.01");
    accepted("11 tokens", "49.05(1799),Talvo 400S", "Talvo 400 S", S, "49.05");
    accepted("13 tokens", "52.02(2316),Talvo 400 L", "Talvo 400 L", L, "52.02");
    accepted("7 tokens, blanks", "49.01 (1623)", "Talvo", S, "49.01");
    accepted("11 tokens, blanks", "49.05 (1799), Talvo 400S", "Talvo 400 S", S, "49.05");
    accepted("13 tokens, blanks", "52.02 (2316), Talvo 400 L", "Talvo 400 L", L, "52.02");

    // The type table of the 11-token shape; other type tokens are used unchanged.
    accepted("type 400L", "49.09(1900),Talvo 400L", "Talvo 400 L", L, "49.09");
    accepted("type 800S", "49.09(1900),Talvo 800S", "Talvo 800 S", S, "49.09");
    accepted("type 800L", "49.09(1900),Talvo 800L", "Talvo 800 L", L, "49.09");
    accepted("type 400", "49.09(1900),Talvo 400", "Talvo 400", S, "49.09");
    accepted("type in lower case", "49.09(1900),Talvo 400s", "Talvo 400s", UNKNOWN, "49.09");

    // Which shape applies depends on major and minor alone.
    rejected("49.01 with a model", "49.01(1623),Talvo 400S", wrong4901);
    rejected("49.01 without build", "49.01", wrong4901);
    accepted("52.01 takes 11 tokens", "52.01(2300),Talvo 400S", "Talvo 400 S", S, "52.01");
    rejected("52.02 with 11 tokens", "52.02(2316),Talvo 400L", wrongCount);
    accepted("52.10 takes 13 tokens", "52.10(2400),Talvo 800 S", "Talvo 800 S", S, "52.10");
    accepted("52 with a minor that is no number", "52.xy(2400),Talvo 800S", "Talvo 800 S", S, "52.xy");
    rejected("53.02 with 13 tokens", "53.02(2316),Talvo 400 L", wrongCount);
    rejected("7 tokens, not 49.01", "49.05(1799)", wrongCount);

    // Minor "40" is shown as "04"; nothing else is rewritten.
    accepted("minor 40", "49.40(1700),Talvo 400S", "Talvo 400 S", S, "49.04");
    accepted("minor 40, 13 tokens", "52.40(2500),Talvo 400 L", "Talvo 400 L", L, "52.04");
    accepted("minor 4", "49.4(1700),Talvo 400S", "Talvo 400 S", S, "49.4");
    accepted("minor 040", "49.040(1700),Talvo 400S", "Talvo 400 S", S, "49.040");

    // Texts without a version number.
    rejected("empty text", "", noVersion);
    rejected("major alone", "49", noVersion);
}

void tst_VersionText::versionTextGivesModelAndVersion()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QString, model);
    QFETCH(int, family);
    QFETCH(QString, version);
    QFETCH(QString, failureLine);

    QString parsedModel = "unchanged";
    QString parsedVersion = "unchanged";
    LogCapture log(LogCapture::PassOn::Nothing);
    const bool ok = UpdateWorker::parseVersionText(text, parsedModel, parsedVersion);

    QCOMPARE(ok, accepted);
    QCOMPARE(parsedModel, accepted ? model : QString("unchanged"));
    QCOMPARE(parsedVersion, accepted ? version : QString("unchanged"));
    if (accepted) { // the model names the units send are the catalogue's
        TargetInfo target;
        target.setName(parsedModel);
        QCOMPARE(int(target.type()), family);
    }

    QStringList expectedLog;
    QStringList quotedTokens;
    for (const QString &token : UpdateWorker::versionTokens(text))
        quotedTokens << '"' + token + '"';
    expectedLog << "Tokens       : (" + quotedTokens.join(", ") + ")";
    expectedLog << "Version      : \"" + text + '"';
    if (!failureLine.isEmpty())
        expectedLog << failureLine;
    QCOMPARE(log.lines(), expectedLog);
}

QTEST_GUILESS_MAIN(tst_VersionText)
#include "tst_versiontext.moc"
