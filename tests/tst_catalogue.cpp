// The unit's identity and the firmware catalogue.
#include "families.h"
#include "firmwareinfo.h"
#include "targetinfo.h"
#include "updateworker.h"

#include <QMetaEnum>
#include <QtTest>

class CatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void nothingIsKnownBeforeTheFirstReport();
    void familyFollowsTheWholeModelName_data();
    void familyFollowsTheWholeModelName();
    void catalogueAnswersForTheFamily_data();
    void catalogueAnswersForTheFamily();
    void versionIsStoredAsGivenAndLeavesTheFamilyAlone_data();
    void versionIsStoredAsGivenAndLeavesTheFamilyAlone();
    void laterNameSwitchesEveryAnswer();
    void familyNamesAreKnownToTheMetaObjectSystem();
    void firmwareInfoKeepsItsValues();
    void familyTableHoldsTogether();
};

void CatalogueTest::nothingIsKnownBeforeTheFirstReport()
{
    TargetInfo target;
    QCOMPARE(target.type(), TargetInfo::TARGET_UNKNOWN);
    QVERIFY(target.name().isEmpty());
    QVERIFY(target.version().isEmpty());
    QVERIFY(target.firmwareImage().isEmpty());
    QCOMPARE(target.firmwareSize(), 0u);
    QVERIFY(target.firmwareVersion().isEmpty());
    QVERIFY(target.firmwareChangelog().isEmpty());
    QVERIFY(target.firmwareLogo().isEmpty());
}

void CatalogueTest::familyFollowsTheWholeModelName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("family");
    for (const char *name :
         {"Talvo", "Talvo 400", "Talvo 800", "Talvo 400S", "Talvo 800S", "Talvo 400 S", "Talvo 800 S"})
        QTest::newRow(name) << QString(name) << int(TargetInfo::TARGET_TALVO_S);
    for (const char *name : {"Talvo 400L", "Talvo 800L", "Talvo 400 L", "Talvo 800 L"})
        QTest::newRow(name) << QString(name) << int(TargetInfo::TARGET_TALVO_L);
    QTest::newRow("other letter case") << "talvo 400 l" << int(TargetInfo::TARGET_UNKNOWN);
    QTest::newRow("trailing blank") << "Talvo 400 L " << int(TargetInfo::TARGET_UNKNOWN);
    QTest::newRow("leading blank") << " Talvo" << int(TargetInfo::TARGET_UNKNOWN);
    QTest::newRow("prefix of a listed name") << "Talvo 40" << int(TargetInfo::TARGET_UNKNOWN);
    QTest::newRow("longer than a listed name") << "Talvo 400 LX" << int(TargetInfo::TARGET_UNKNOWN);
    QTest::newRow("in neither list") << "Talvo 1200" << int(TargetInfo::TARGET_UNKNOWN);
    QTest::newRow("empty") << "" << int(TargetInfo::TARGET_UNKNOWN);
}

void CatalogueTest::familyFollowsTheWholeModelName()
{
    QFETCH(QString, name);
    QFETCH(int, family);
    TargetInfo target;
    target.setName("Talvo 800 L"); // the family is derived anew on every call
    target.setName(name);
    QCOMPARE(int(target.type()), family);
    QCOMPARE(target.name(), name);
}

void CatalogueTest::catalogueAnswersForTheFamily_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("image");
    QTest::addColumn<uint>("size");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("changelog");
    QTest::addColumn<QString>("logo");
    QTest::newRow("S") << "Talvo 400 S"
                       << ":/fmw/s/image.txt" << 124670u << "49.09"
                       << ":/fmw/s/changelog.txt"
                       << "/fmw/s/logo.jpg";
    QTest::newRow("L") << "Talvo 800L"
                       << ":/fmw/l/image.txt" << 126452u << "52.05"
                       << ":/fmw/l/changelog.txt"
                       << "/fmw/l/logo.jpg";
    QTest::newRow("unknown") << "Flash 9000"
                             << "" << 0u << ""
                             << ""
                             << "";
}

void CatalogueTest::catalogueAnswersForTheFamily()
{
    QFETCH(QString, name);
    TargetInfo target;
    target.setName(name);
    QTEST(target.firmwareImage(), "image");
    QTEST(target.firmwareSize(), "size");
    QTEST(target.firmwareVersion(), "version");
    QTEST(target.firmwareChangelog(), "changelog");
    QTEST(target.firmwareLogo(), "logo");
}

void CatalogueTest::versionIsStoredAsGivenAndLeavesTheFamilyAlone_data()
{
    QTest::addColumn<QString>("version");
    QTest::newRow("normal") << "49.05";
    QTest::newRow("empty") << "";
    QTest::newRow("no point") << "4905";
    QTest::newRow("three parts") << "1.2.3";
}

void CatalogueTest::versionIsStoredAsGivenAndLeavesTheFamilyAlone()
{
    QFETCH(QString, version);
    TargetInfo target;
    target.setName("Talvo 400L");
    target.setVersion(version);
    QCOMPARE(target.version(), version);
    QCOMPARE(target.type(), TargetInfo::TARGET_TALVO_L);
    QCOMPARE(target.firmwareVersion(), QString("52.05"));
}

void CatalogueTest::laterNameSwitchesEveryAnswer()
{
    TargetInfo target;
    target.setName("Talvo");
    target.setVersion("49.01");
    QCOMPARE(target.firmwareImage(), QString(":/fmw/s/image.txt"));
    target.setName("Talvo 800 L");
    QCOMPARE(target.type(), TargetInfo::TARGET_TALVO_L);
    QCOMPARE(target.firmwareImage(), QString(":/fmw/l/image.txt"));
    QCOMPARE(target.firmwareSize(), 126452u);
    QCOMPARE(target.firmwareLogo(), QString("/fmw/l/logo.jpg"));
    QCOMPARE(target.version(), QString("49.01")); // only setVersion changes the version
}

void CatalogueTest::familyNamesAreKnownToTheMetaObjectSystem()
{
    const QMetaEnum family = QMetaEnum::fromType<TargetInfo::eTARGET_TYPE>();
    QVERIFY(family.isValid());
    QCOMPARE(QByteArray(family.name()), QByteArray("eTARGET_TYPE"));
    QCOMPARE(family.keyCount(), 3);
    QCOMPARE(family.keyToValue("TARGET_UNKNOWN"), 0);
    QCOMPARE(family.keyToValue("TARGET_TALVO_S"), 1);
    QCOMPARE(family.keyToValue("TARGET_TALVO_L"), 2);
    QCOMPARE(QByteArray(family.scope()), QByteArray("TargetInfo"));
}

void CatalogueTest::firmwareInfoKeepsItsValues()
{
    const FirmwareInfo info(":/a.txt", -1, "1.2", ":/c.txt", "/l.jpg");
    QCOMPARE(info.image(), QString(":/a.txt"));
    QCOMPARE(info.size(), 0xFFFFFFFFu); // a signed size is stored as unsigned
    QCOMPARE(info.version(), QString("1.2"));
    QCOMPARE(info.changelog(), QString(":/c.txt"));
    QCOMPARE(info.logo(), QString("/l.jpg"));
}

// What the front ends take from the table must agree with itself: a unit named from its version
// text's type token belongs to the family that lists the token, and its letter leads back to it.
void CatalogueTest::familyTableHoldsTogether()
{
    QStringList pictures;
    for (const Family &family : Families::all()) {
        QCOMPARE(Families::of(family.family), &family);
        QCOMPARE(Families::ofLetter(family.letter.toLower()), &family);
        for (const auto &number : family.modelNumbers) {
            QString model, version;
            const QString text = "49.05(1799),Talvo " + number.first;
            QVERIFY2(UpdateWorker::parseVersionText(text, model, version), qPrintable(text));
            QCOMPARE(Families::ofModel(model), &family);
        }
        QVERIFY(!pictures.contains(family.picture)); // the scenes tell the families apart by it
        pictures << family.picture;
    }
    QCOMPARE(Families::letters(), QStringList({"S", "L"}));
    QVERIFY(!Families::of(TargetInfo::TARGET_UNKNOWN));
    QVERIFY(!Families::ofLetter(""));
    QCOMPARE(Families::modelNumber("1200"), QString("1200")); // a number no family lists stays as it is
}

QTEST_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
