#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "Settings.h"

using praxon::ConfigValues;

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void firstRunGivesDefaults();
    void load_data();
    void load();
    void roundTrip_data();
    void roundTrip();
    void everyKeyWrittenOnEveryExit();
    void damagedFileGivesDefaults_data();
    void damagedFileGivesDefaults();
    void damagedFileIsReplacedAtExit();
    void folderInPlaceOfFile();
    void fileNamedAfterExecutable();

private:
    void writeRaw(const QByteArray& content);
    QTemporaryDir dir_;
};

void TestSettings::initTestCase() {
    QVERIFY(dir_.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Praxon"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

void TestSettings::init() {
    QFile::remove(praxon::configFilePath());
    QDir(praxon::configFilePath()).removeRecursively();
}

void TestSettings::writeRaw(const QByteArray& content) {
    const QString path = praxon::configFilePath();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void TestSettings::firstRunGivesDefaults() {
    const ConfigValues v = praxon::readConfig();
    QCOMPARE(v.fileName, QString());
    QCOMPARE(v.goAddress, QStringLiteral("08000000"));
    QCOMPARE(v.erase, true);
    QCOMPARE(v.check, false);
    QCOMPARE(v.readProtect, false);
}

void TestSettings::load_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("goAddress");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("check");
    QTest::addColumn<bool>("readProtect");

    const QString def = QStringLiteral("08000000");
    QTest::newRow("section of another name is ignored")
        << QByteArray("[Other]\nADD=20000000\nErase=0\n") << QString() << def << true << false
        << false;
    QTest::newRow("spaces around the address are kept on loading")
        << QByteArray("[Config]\nADD=\" 20000000 \"\n") << QString() << QStringLiteral(" 20000000 ")
        << true << false << false;
    QTest::newRow("Erase 0 clears the box although its default is 1")
        << QByteArray("[Config]\nErase=0\n") << QString() << def << false << false << false;
    QTest::newRow("Check 2") << QByteArray("[Config]\nCheck=2\n") << QString() << def << true
                             << false << false;
    QTest::newRow("Check -1") << QByteArray("[Config]\nCheck=-1\n") << QString() << def << true
                              << false << false;
    QTest::newRow("1 followed by a space is not 1")
        << QByteArray("[Config]\nCheck=\"1 \"\nErase=\"1 \"\n") << QString() << def << false
        << false << false;
    QTest::newRow("yes and true are not 1") << QByteArray("[Config]\nCheck=yes\nReadPortect=true\n")
                                            << QString() << def << true << false << false;
    QTest::newRow("empty values are not 1 and keep an empty address")
        << QByteArray("[Config]\nADD=\nErase=\nCheck=\n") << QString() << QString() << false
        << false << false;
    QTest::newRow("exactly 1 ticks each box")
        << QByteArray("[Config]\nErase=1\nCheck=1\nReadPortect=1\n") << QString() << def << true
        << true << true;
    QTest::newRow("the key is spelled ReadPortect")
        << QByteArray("[Config]\nReadProtect=1\n") << QString() << def << true << false << false;
    QTest::newRow("Chinese path")
        << QStringLiteral("[Config]\nFileName=/home/用户/固件 v1.hex\n").toUtf8()
        << QStringLiteral("/home/用户/固件 v1.hex") << def << true << false << false;
    QTest::newRow("a hand-typed comma keeps the text")
        << QByteArray("[Config]\nADD=0800,0000\n") << QString() << QStringLiteral("0800,0000")
        << true << false << false;
}

void TestSettings::load() {
    QFETCH(QByteArray, ini);
    writeRaw(ini);
    const ConfigValues v = praxon::readConfig();
    QTEST(v.fileName, "fileName");
    QTEST(v.goAddress, "goAddress");
    QTEST(v.erase, "erase");
    QTEST(v.check, "check");
    QTEST(v.readProtect, "readProtect");
}

void TestSettings::roundTrip_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("goAddress");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("check");
    QTest::addColumn<bool>("readProtect");
    QTest::newRow("all cleared, empty address")
        << QStringLiteral("/tmp/a.hex") << QString() << false << false << false;
    QTest::newRow("all ticked") << QStringLiteral("/tmp/带 空格/b,c.hex")
                                << QStringLiteral("20000000") << true << true << true;
    QTest::newRow("quotes and semicolons") << QStringLiteral("/tmp/x\"y;z=1.hex")
                                           << QStringLiteral("0x08000000") << true << false << true;
}

void TestSettings::roundTrip() {
    ConfigValues in;
    QFETCH(QString, fileName);
    QFETCH(QString, goAddress);
    in.fileName = fileName;
    in.goAddress = goAddress;
    QFETCH(bool, erase);
    QFETCH(bool, check);
    QFETCH(bool, readProtect);
    in.erase = erase;
    in.check = check;
    in.readProtect = readProtect;
    praxon::writeConfig(in);
    const ConfigValues out = praxon::readConfig();
    QCOMPARE(out.fileName, in.fileName);
    QCOMPARE(out.goAddress, in.goAddress);
    QCOMPARE(out.erase, in.erase);
    QCOMPARE(out.check, in.check);
    QCOMPARE(out.readProtect, in.readProtect);
}

void TestSettings::everyKeyWrittenOnEveryExit() {
    praxon::writeConfig(ConfigValues());
    QSettings raw(praxon::configFilePath(), QSettings::IniFormat);
    raw.beginGroup(QStringLiteral("Config"));
    QCOMPARE(raw.childKeys().size(), 5);
    QCOMPARE(raw.value(QStringLiteral("FileName")).toString(), QString());
    QCOMPARE(raw.value(QStringLiteral("ADD")).toString(), QStringLiteral("08000000"));
    QCOMPARE(raw.value(QStringLiteral("Erase")).toString(), QStringLiteral("1"));
    QCOMPARE(raw.value(QStringLiteral("Check")).toString(), QStringLiteral("0"));
    QCOMPARE(raw.value(QStringLiteral("ReadPortect")).toString(), QStringLiteral("0"));
}

void TestSettings::damagedFileGivesDefaults_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("unclosed section") << QByteArray("[Config\nADD=1\nErase=0\n");
    QTest::newRow("binary noise") << QByteArray("\xff\xfe\x00\x01\x02\x7f\x80", 7);
    QTest::newRow("unknown stored type")
        << QByteArray("[Config]\nErase=@Variant(\\0\\0\\0\\x7f)\n");
}

void TestSettings::damagedFileGivesDefaults() {
    QFETCH(QByteArray, content);
    writeRaw(content);
    const ConfigValues v = praxon::readConfig();
    QCOMPARE(v.goAddress, QStringLiteral("08000000"));
    QCOMPARE(v.erase, true);
    QCOMPARE(v.check, false);
}

void TestSettings::damagedFileIsReplacedAtExit() {
    writeRaw("[Config\nADD=1\nJunk=2\n");
    ConfigValues in;
    in.goAddress = QStringLiteral("20000000");
    in.erase = false;
    praxon::writeConfig(in);
    const ConfigValues out = praxon::readConfig();
    QCOMPARE(out.goAddress, QStringLiteral("20000000"));
    QCOMPARE(out.erase, false);
    QSettings raw(praxon::configFilePath(), QSettings::IniFormat);
    QCOMPARE(raw.status(), QSettings::NoError);
    QVERIFY(!raw.contains(QStringLiteral("Config/Junk")));
}

void TestSettings::folderInPlaceOfFile() {
    QVERIFY(QDir().mkpath(praxon::configFilePath()));
    const ConfigValues v = praxon::readConfig();
    QCOMPARE(v.goAddress, QStringLiteral("08000000"));
    praxon::writeConfig(v);  // must neither crash nor remove the folder
    QVERIFY(QFileInfo(praxon::configFilePath()).isDir());
}

void TestSettings::fileNamedAfterExecutable() {
    QCOMPARE(praxon::configApplicationName(), QStringLiteral("tst_settings"));
    const QString path = praxon::configFilePath();
    QVERIFY2(path.endsWith(QStringLiteral("/Praxon/tst_settings.ini")), qPrintable(path));
    QVERIFY(path.startsWith(dir_.path()));
    QVERIFY(!path.contains(QStringLiteral("Unknown Organization")));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
