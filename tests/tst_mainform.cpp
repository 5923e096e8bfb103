#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "ComPorts.h"
#include "DialogProvider.h"
#include "Engine.h"
#include "FirmwareImage.h"
#include "HelpLinks.h"
#include "MainForm.h"
#include "Settings.h"
#include "Simulator.h"

using praxon::ListPortMap;
using praxon::MainForm;

namespace {
// Answers every dialog at once and remembers what was asked, messages as "title: text".
struct ScriptedDialogs : praxon::DialogProvider {
    QStringList messages, openAnswers, saveAnswers, textAnswers, filters, asked;
    QList<QUrl> opened;
    void message(QWidget*, const QString& t, const QString& s) override {
        messages << t + ": " + s;
    }
    QString openFileName(QWidget*, const QString&, const QString& filter) override {
        return filters << filter, openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget*, const QString&, const QString& filter) override {
        return filters << filter, saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    // A null answer cancels. Asked as "title: label initial".
    QString askText(QWidget*, const QString& title, const QString& label, const QString& initial,
                    bool* ok) override {
        asked << title + ": " + label + initial;
        const QString answer = textAnswers.isEmpty() ? QString() : textAnswers.takeFirst();
        *ok = !answer.isNull();
        return answer;
    }
    bool openUrl(const QUrl& url) override { return opened << url, false; }  // nothing opens
};
// A port map whose list can change while the window is open, as when an adapter is plugged in.
struct ChangingPorts : ListPortMap {
    void set(const QStringList& names) { static_cast<ListPortMap&>(*this) = fromNames(names); }
};
const QString kOpenFilter = QStringLiteral("Intel Hex (*.hex);;Bin (*.bin);;所有文件(*.*)");
const QString kAskAddress = QStringLiteral("Praxon: BIN文件的装载地址（十六进制）：");
}  // namespace

class TestMainForm : public QObject {
    Q_OBJECT
    QTemporaryDir config_, work_;
    ScriptedDialogs dialogs_;
    ListPortMap noPorts_;
    std::unique_ptr<praxon::sim::Simulator> sim_;

    std::unique_ptr<MainForm> makeWindow(praxon::PortMap* ports = nullptr) {
        auto w = std::make_unique<MainForm>(
            praxon::MainFormOptions{nullptr, ports ? ports : &noPorts_, &dialogs_});
        w->show();
        return w;
    }
    template <class T = QWidget>
    static T* child(QWidget& w, const char* name) {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    static void click(QWidget& w, const char* button) { child<QPushButton>(w, button)->click(); }
    // A board of 16 KB; instant: without the line's pace and the flash's delays.
    bool startBoard(bool instant) {
        praxon::sim::SimulatorOptions options;
        options.board.flashKb = 16;
        options.instant = instant;
        sim_ = std::make_unique<praxon::sim::Simulator>(options);
        std::string error;
        return sim_->start(&error);
    }
    bool connectBoard(MainForm& w) {
        child<QComboBox>(w, "CombComPort")->setEditText(QString::fromStdString(sim_->portPath()));
        click(w, "CHECKCMD");
        return w.lamp() == praxon::Lamp::Green;
    }
    static QByteArray pattern(int size, int seed) {
        QByteArray data(size, 0);
        for (int i = 0; i < size; ++i) data[i] = char((i * 7 + (i >> 8) + seed) & 0xFF);
        return data;
    }
    // Writes data at 0x08000000 as Intel HEX; returns the file name.
    QString writeHex(const QByteArray& data) {
        std::vector<std::string> lines;
        praxon::HexRangeWriter().addData(0x08000000, (const uint8_t*)data.data(), data.size(),
                                         &lines);
        QByteArray text;
        for (const std::string& line : lines) text += QByteArray::fromStdString(line) + '\n';
        return writeFile("firmware.hex", text + ":00000001FF\n");
    }
    QString writeFile(const QString& name, const QByteArray& content) {
        QFile f(work_.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() ? f.fileName()
                                                                                  : "";
    }
    QByteArray flash(int offset, int size) const {
        return QByteArray((const char*)sim_->flashImage().data() + offset, size);
    }
    // Log lines without their time stamp, durations as N; a line without a stamp is marked "?".
    static QStringList log(MainForm& w) {
        QStringList lines =
            child<QPlainTextEdit>(w, "TxtMsg")->toPlainText().split('\n', Qt::SkipEmptyParts);
        for (QString& l : lines)
            l.replace(QRegularExpression("^(?!\\d\\d:\\d\\d:\\d\\d )"), "?")
                .replace(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d "), "")
                .replace(QRegularExpression("\\d*\\.\\d\\d秒"), "N秒");
        return lines;
    }
    static QString lamp(MainForm& w) {
        return child(w, "StatusBar1Panel6Lamp")->property("lamp").toString();
    }
    // Enabled state of the operation buttons as 1 and 0, write-protect buttons last.
    static QString enabledStates(MainForm& w) {
        QString s;
        for (const char* name : {"CmdReadProtect", "CmdReadUnProtect", "CmdStart", "Command_ER",
                                 "Command_GO", "CmdRead", "CmdWriteProtect", "CmdWriteUnProtect"})
            s += child(w, name)->isEnabled() ? '1' : '0';
        return s;
    }
    // Clicks Start and, once blocks are being written, calls act while the operation waits.
    bool startAndActWhileBusy(MainForm& w, const std::function<void()>& act) {
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (w.engine().busy() && w.panelText(2).startsWith(QStringLiteral("完成")))
                watch.stop(), act();
        });
        watch.start(5);
        click(w, "CmdStart");
        return !watch.isActive();
    }
    // Clicks 选项, ticks the named choices and closes the dialog with the named button. Returns
    // the choices ticked as it opened ("" when no dialog came).
    QString useOptions(MainForm& w, const QStringList& choices, const char* closeWith = "CmdOK") {
        QString ticked;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d) return;
            poll.stop();
            for (QRadioButton* r : d->findChildren<QRadioButton*>())
                if (r->isChecked()) ticked += r->objectName() + ' ';
            for (const QString& c : choices) d->findChild<QRadioButton*>(c)->click();
            click(*d, closeWith);
        });
        poll.start(5);
        click(w, "CmdOptions");
        return ticked;
    }

private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName(QStringLiteral("Praxon"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config_.path());
    }
    void init() {
        QFile::remove(praxon::configFilePath());
        dialogs_ = ScriptedDialogs();
    }
    // With a larger desktop font every caption still fits its control, nothing leaves its group
    // and no control overlaps another of its group (labels and pictures may touch them).
    void captionsFit() {
        const QFont original = QApplication::font();
        QApplication::setFont(QFont(original.family(), 18));
        auto w = makeWindow();
        QApplication::setFont(original);
        QCOMPARE(w->windowTitle(), QStringLiteral("Praxon (1.0b)"));
        const QFontMetrics fm(w->font());
        const QList<QWidget*> widgets = w->findChildren<QWidget*>();
        auto shown = [&](QWidget* widget) {
            return widget->isVisibleTo(w.get()) &&
                   !widget->objectName().startsWith(QLatin1String("CmdWrite")) &&
                   qobject_cast<QGroupBox*>(widget->parentWidget());
        };
        for (QWidget* widget : widgets) {
            if (!shown(widget)) continue;
            const QString name = widget->objectName();
            QString text = widget->property("text").toString().remove('&');
            if (!text.isEmpty() && qobject_cast<QLineEdit*>(widget) == nullptr)
                QVERIFY2(fm.horizontalAdvance(text) <= widget->width() &&
                             fm.height() <= widget->height() + 1,
                         qPrintable(name));
            QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(name));
            for (QWidget* other : widgets)
                if (other != widget && shown(other) &&
                    other->parentWidget() == widget->parentWidget() &&
                    !qobject_cast<QLabel*>(widget) && !qobject_cast<QLabel*>(other))
                    QVERIFY2(!widget->geometry().intersects(other->geometry()),
                             qPrintable(name + " / " + other->objectName()));
        }
    }
    // The first ten ports as found. Leaving the list opens the port; choosing with the keys or
    // opening the drop-down does not. Opening it lists the ports again, as an adapter may have
    // been plugged in; the text stays.
    void portList() {
        QStringList found;
        for (int i = 12; i >= 1; --i) found << QStringLiteral("/nonexistent/ttyUSB%1").arg(i);
        ChangingPorts ports;
        ports.set(found);
        auto w = makeWindow(&ports);
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto* list = child<QComboBox>(*w, "CombComPort");
        QStringList items;
        for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
        QCOMPARE(items, found.mid(0, 10));
        list->setFocus();
        QTRY_VERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Down);
        QTest::qWait(20);
        QCOMPARE(list->currentText() + dialogs_.messages.join(""), "/nonexistent/ttyUSB11");
        child(*w, "GATEXT")->setFocus();
        QTRY_COMPARE(dialogs_.messages, QStringList{"Praxon: 指定的串口不存在或已被占用。"});
        list->setFocus();
        ports.set({"ttyACM0"});
        list->showPopup();
        QTest::qWait(20);
        QCOMPARE(list->itemText(0) + '|' + list->currentText(), "ttyACM0|/nonexistent/ttyUSB11");
        QCOMPARE(dialogs_.messages.size(), 1);
        list->hidePopup();
    }
    // Connect, program (a close is refused meanwhile), read back, then program again and Stop.
    void session() {
        QVERIFY(startBoard(false));
        auto w = makeWindow();
        QCOMPARE(lamp(*w) + enabledStates(*w), QStringLiteral("gray00000000"));
        QVERIFY(connectBoard(*w));
        QStringList expected = {"连接目标板......", "连接成功，准备获取器件信息......",
                                "器件信息为STM32F10x, PID=0410",
                                "FLASH容量为: 16K; RAM容量为: 未知."};
        QCOMPARE(log(*w), expected);
        QCOMPARE(w->panelText(2) + '|' + w->panelText(4) + '|' + w->panelText(6) + '|' + lamp(*w) +
                     '|' + enabledStates(*w),
                 QStringLiteral("收到ACK，可以ISP了。|STM32F10x, PID=0410|已连接.|green|11111100"));

        const QByteArray data = pattern(4096, 0);
        child<QLineEdit>(*w, "TxtDownloadFile")->setText(writeHex(data));
        child<QCheckBox>(*w, "ChkCheck")->setChecked(true);
        bool closed = true, busyAfter = false;
        QVERIFY(
            startAndActWhileBusy(*w, [&] { closed = w->close(), busyAfter = w->engine().busy(); }));
        QVERIFY(!closed && busyAfter && w->isVisible());
        QVERIFY(!QFile::exists(praxon::configFilePath()));  // the refused close saved nothing
        expected += QStringList{"开始整片擦除......", "擦除成功。", "开始编程......",
                                "编程成功, 用时共N秒。"};
        QCOMPARE(log(*w), expected);
        QCOMPARE(w->panelText(2), QStringLiteral("下载结束."));
        QCOMPARE(flash(0, 4097), data + char(0xFF));

        dialogs_.saveAnswers << work_.filePath(QStringLiteral("readback.bin"));
        click(*w, "CmdRead");
        QCOMPARE(dialogs_.filters, QStringList{"Intel Hex (*.hex);;Bin (*.bin);;所有文件(*.*)"});
        QCOMPARE(log(*w), expected << "开始读取数据......"
                                   << "读取完成, 读取时间为:N秒.");
        QCOMPARE(w->panelText(2) + enabledStates(*w), QStringLiteral("已读完.11111100"));
        QFile readBack(work_.filePath("readback.bin"));
        QVERIFY(readBack.open(QIODevice::ReadOnly));
        QCOMPARE(readBack.readAll(), flash(0, 16 * 1024));  // binary, as the name asks
        QCOMPARE(dialogs_.messages, QStringList{"Praxon: 请按中止按钮后退出。"});

        const QByteArray second = pattern(4096, 1);
        child<QLineEdit>(*w, "TxtDownloadFile")->setText(writeHex(second));
        QVERIFY(startAndActWhileBusy(*w, [&] { click(*w, "CmdStop"); }));
        QVERIFY(!w->engine().busy() && flash(0, second.size()) != second);
        QCOMPARE(dialogs_.messages.last(), QStringLiteral("Praxon: 下载失败。"));
        QCOMPARE(w->panelText(6) + lamp(*w) + enabledStates(*w),
                 QStringLiteral("未连接gray00000000"));
        QVERIFY(w->close());
    }
    // The other buttons on a connected board whose first KB holds old data.
    void operations_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("address");  // GATEXT
        QTest::addColumn<int>("command");      // the bootloader command the click sends
        QTest::addColumn<int>("sent");         // how often
        QTest::addColumn<QStringList>("log");  // lines after the connect's
        QTest::addColumn<QString>("after");    // message|link panel|lamp|first KB erased
        const QString idle = QStringLiteral("|未连接|gray|");
        QTest::newRow("erase") << "Command_ER"
                               << "" << 0x43 << 1 << QStringList{"开始整片擦除......", "擦除成功。"}
                               << "|已连接.|green|1";
        QTest::newRow("go") << "Command_GO"
                            << " 0x08000000 " << 0x21 << 1 << QStringList{"已运行。"} << idle + "0";
        for (const char* bad : {"", "08O00000", "123456789"})
            QTest::newRow(qPrintable(QString("go refused: '%1'").arg(bad)))
                << "Command_GO" << bad << 0x21 << 0 << QStringList()
                << "Praxon: 运行地址无效，请输入十六进制地址。|已连接.|green|0";
        QTest::newRow("protect") << "CmdReadProtect"
                                 << "" << 0x82 << 1
                                 << QStringList{"置读保护成功, 复位目标板后才能有效。"}
                                 << idle + "0";
        QTest::newRow("unprotect")
            << "CmdReadUnProtect"
            << "" << 0x92 << 1 << QStringList{"清读保护成功, 复位目标板后才能有效。"} << idle + "1";
    }
    void operations() {
        QFETCH(QString, button);
        QFETCH(QString, address);
        QFETCH(int, command);
        QVERIFY(startBoard(true));
        sim_->loadFlash(0, std::vector<uint8_t>(1024, 0x5A));
        auto w = makeWindow();
        QVERIFY(connectBoard(*w));
        const int connectLines = log(*w).size();
        child<QLineEdit>(*w, "GATEXT")->setText(address);
        click(*w, qPrintable(button));
        QTEST(int(sim_->counters().perCommand[uint8_t(command)]), "sent");
        QTEST(log(*w).mid(connectLines), "log");
        QTEST(dialogs_.messages.join("") + '|' + w->panelText(6) + '|' + lamp(*w) + '|' +
                  (flash(0, 1024) == QByteArray(1024, char(0xFF)) ? '1' : '0'),
              "after");
    }
    // Choosing the file: a binary one asks where it belongs; a cancel or a bad address leaves
    // the old file in place.
    void chooseFile_data() {
        QTest::addColumn<QString>("chosen");   // empty: cancelled
        QTest::addColumn<QString>("typed");    // the load address typed; null: cancelled
        QTest::addColumn<QString>("field");    // TxtDownloadFile afterwards
        QTest::addColumn<uint>("binAddress");  // remembered afterwards
        QTest::addColumn<QString>("message");
        const QString old = QStringLiteral("/fw/old.hex");
        const QString refused =
            QStringLiteral("Praxon: 装载地址无效，请输入十六进制地址，例如08000000。");
        QTest::newRow("cancelled") << "" << QString() << old << 0x08000000u << "";
        QTest::newRow("hex") << "/fw/new.hex" << QString() << "/fw/new.hex" << 0x08000000u << "";
        QTest::newRow("other name is HEX")
            << "/fw/a.s19" << QString() << "/fw/a.s19" << 0x08000000u << "";
        QTest::newRow("bin") << "/fw/a.bin"
                             << "0x08004000"
                             << "/fw/a.bin" << 0x08004000u << "";
        QTest::newRow("BIN, short address") << "/fw/A.Bin"
                                            << " 20001000 "
                                            << "/fw/A.Bin" << 0x20001000u << "";
        QTest::newRow("bin, address cancelled")
            << "/fw/a.bin" << QString() << old << 0x08000000u << "";
        for (const char* bad : {"", "0800G000", "123456789", "-1"})
            QTest::newRow(qPrintable(QString("bin, '%1' refused").arg(bad)))
                << "/fw/a.bin" << bad << old << 0x08000000u << refused;
    }
    void chooseFile() {
        QFETCH(QString, chosen);
        QFETCH(QString, typed);
        auto w = makeWindow();
        child<QLineEdit>(*w, "TxtDownloadFile")->setText("/fw/old.hex");
        dialogs_.openAnswers << chosen;
        dialogs_.textAnswers << typed;
        click(*w, "CmdDownLoad");
        QCOMPARE(dialogs_.filters, QStringList{kOpenFilter});
        const bool binary = chosen.endsWith(".bin", Qt::CaseInsensitive);
        QCOMPARE(dialogs_.asked, binary ? QStringList{kAskAddress + "08000000"} : QStringList());
        QTEST(child<QLineEdit>(*w, "TxtDownloadFile")->text(), "field");
        QTEST(uint(w->binAddress()), "binAddress");
        QTEST(dialogs_.messages.join(""), "message");
    }
    // Programming as the options say, over old data in the first 8 KB: what each KB holds
    // afterwards (D: the file's data, O: old, F: erased).
    void program_data() {
        QTest::addColumn<QString>("typed");  // load address of the .bin; null: a HEX file
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("erase");  // 擦除 ticked
        QTest::addColumn<QString>("kilobytes");
        QTest::addColumn<QString>("message");
        const QStringList pages = {"OptFast", "OptErasePages"};
        QTest::newRow("hex, whole chip")
            << QString() << QStringList{"OptFast", "OptEraseChip"} << true << "DDFFFFFF"
            << "";
        QTest::newRow("hex, pages") << QString() << pages << true << "DDOOOOOO"
                                    << "";
        QTest::newRow("bin, pages, compatible")
            << "08001000" << QStringList{"OptCompatible", "OptErasePages"} << true << "OOOODDOO"
            << "";
        QTest::newRow("bin, whole chip, compatible")
            << "8001000" << QStringList{"OptCompatible", "OptEraseChip"} << true << "FFFFDDFF"
            << "";
        QTest::newRow("not erased: refused by the chip")
            << QString() << pages << false << "OOOOOOOO"
            << "Praxon: 传送数据时应答为非ACK，应答值=1FPraxon: 下载失败。";
    }
    void program() {
        QFETCH(QString, typed);
        QFETCH(QStringList, options);
        QVERIFY(startBoard(true));
        sim_->loadFlash(0, std::vector<uint8_t>(8 * 1024, 0x5A));
        auto w = makeWindow();
        QVERIFY(connectBoard(*w));
        QCOMPARE(useOptions(*w, options), "OptFast OptEraseChip ");  // as on first run
        QCOMPARE(w->engine().mode(), options.contains("OptCompatible")
                                         ? praxon::WriteMode::Compatible
                                         : praxon::WriteMode::Fast);
        const QByteArray data = pattern(2048, 3);
        dialogs_.openAnswers << (typed.isNull() ? writeHex(data) : writeFile("firmware.bin", data));
        dialogs_.textAnswers << typed;
        click(*w, "CmdDownLoad");
        QFETCH(bool, erase);
        child<QCheckBox>(*w, "ChkErase")->setChecked(erase);
        child<QCheckBox>(*w, "ChkCheck")->setChecked(true);
        click(*w, "CmdStart");
        QString kilobytes;
        for (int kb = 0; kb < 8; ++kb) {
            const QByteArray got = flash(kb * 1024, 1024);
            const int offset = kb * 1024 - (typed.isNull() ? 0 : 0x1000);
            kilobytes += offset >= 0 && got == data.mid(offset, 1024) ? 'D'
                         : got == QByteArray(1024, char(0xFF))        ? 'F'
                         : got == QByteArray(1024, char(0x5A))        ? 'O'
                                                                      : '?';
        }
        QTEST(kilobytes, "kilobytes");
        QTEST(dialogs_.messages.join(""), "message");
    }
    // Settings are loaded as stored and saved with only the blanks trimmed; the options and the
    // load address come back as they were left. Help and both links (the outer pictures) are
    // offered to the desktop; when it opens nothing, nothing is said.
    void settingsHelpAndLinks() {
        QDir().mkpath(QFileInfo(praxon::configFilePath()).path());
        QFile file(praxon::configFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("[Config]\nADD=\" 2000 \"\nFileName=\" /tmp/固件 a.hex "
                           "\"\nErase=0\nCheck=2\nReadPortect=1\nWriteMode=compatible\n"
                           "EraseScope=pages\nBinAddress=8001000\n"));
        file.close();
        auto w = makeWindow();
        QString shown = child<QLineEdit>(*w, "GATEXT")->text() + '|' +
                        child<QLineEdit>(*w, "TxtDownloadFile")->text() + '|';
        for (const char* box : {"ChkErase", "ChkCheck", "ChkSetreadProtect"})
            shown += child<QCheckBox>(*w, box)->isChecked() ? '1' : '0';
        QCOMPARE(shown, " 2000 | /tmp/固件 a.hex |001");
        dialogs_.openAnswers << "/tmp/b.bin";
        click(*w, "CmdDownLoad");  // the address question is cancelled
        QCOMPARE(dialogs_.asked, QStringList{kAskAddress + "08001000"});

        const QString stored = QStringLiteral("OptCompatible OptErasePages ");
        QCOMPARE(useOptions(*w, {"OptFast", "OptEraseChip"}, "CmdCancel"), stored);
        QCOMPARE(useOptions(*w, {"OptFast"}), stored);
        QCOMPARE(w->engine().mode(), praxon::WriteMode::Fast);

        child<QPushButton>(*w, "CmdHelp")->click();
        QList<QUrl> expected;
        const QString help = praxon::helpFilePath(QCoreApplication::applicationDirPath());
        if (!help.isEmpty()) expected << QUrl::fromLocalFile(help);
        for (const char* picture : {"Picture2", "Picture1", "Picture3"}) {
            QVERIFY(!child<QLabel>(*w, picture)->pixmap().isNull());
            QTest::mouseClick(child(*w, picture), Qt::LeftButton);
        }
        QCOMPARE(dialogs_.opened,
                 expected << QUrl("http://www.example.com") << QUrl("http://www.st.com"));
        QCOMPARE(dialogs_.messages, QStringList());
        QVERIFY(w->close());
        QSettings saved(praxon::configFilePath(), QSettings::IniFormat);
        QString values;
        for (const char* key : {"ADD", "FileName", "Erase", "Check", "ReadPortect", "WriteMode",
                                "EraseScope", "BinAddress"})
            values += saved.value(QStringLiteral("Config/") + key).toString() + '|';
        QCOMPARE(values, "2000|/tmp/固件 a.hex|0|0|1|fast|pages|08001000|");
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
