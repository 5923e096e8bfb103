#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "ComPorts.h"
#include "DialogProvider.h"
#include "Engine.h"
#include "HelpLinks.h"
#include "IntelHex.h"
#include "MainForm.h"
#include "Settings.h"
#include "Simulator.h"

using praxon::ListPortMap;
using praxon::MainForm;

namespace {
// Answers every dialog at once and remembers what was asked, messages as "title: text".
struct ScriptedDialogs : praxon::DialogProvider {
    QStringList messages, saveAnswers, saveFilters;
    QList<QUrl> opened;
    void message(QWidget*, const QString& t, const QString& s) override {
        messages << t + ": " + s;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString& filter) override {
        return saveFilters << filter, saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    bool openUrl(const QUrl& url) override { return opened << url, false; }  // nothing opens
};
// A port map whose list can change while the window is open, as when an adapter is plugged in.
struct ChangingPorts : ListPortMap {
    void set(const QStringList& names) { static_cast<ListPortMap&>(*this) = fromNames(names); }
};
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
    static T* child(MainForm& w, const char* name) {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    // Writes a pattern of size bytes at 0x08000000 as Intel HEX; returns the file name.
    QString writeHex(int size, int seed, QByteArray* data) {
        data->resize(size);
        std::string text = praxon::ExtendedLinearAddressLine(0x08000000) + "\n";
        for (int i = 0; i < size; ++i) (*data)[i] = char((i * 7 + (i >> 8) + seed) & 0xFF);
        for (int i = 0; i < size; i += 64)
            text +=
                praxon::DataRecordLine(0x08000000 + i, (const uint8_t*)data->data() + i, 64) + "\n";
        QFile f(work_.filePath(QStringLiteral("firmware.hex")));
        return f.open(QIODevice::WriteOnly) && f.write((text + ":00000001FF\n").c_str())
                   ? f.fileName()
                   : "";
    }
    QByteArray flash(int size) const {
        return QByteArray((const char*)sim_->flashImage().data(), size);
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
        child<QPushButton>(w, "CmdStart")->click();
        return !watch.isActive();
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
    void controls_data() {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("text");  // caption, title, or initial text
        QTest::addColumn<QString>("tip");
        QTest::addColumn<int>("state");  // enabled + 2 * checked
        // name | parent | text | tip (P: the protection tip) | state
        const QString rows = QStringLiteral(R"(AUTFRAME|OPFRAME|连接||1
Frame1|OPFRAME|运行||1
Frame4|OPFRAME|编程||1
Frame2|OPFRAME|保护||1
Frame3|OPFRAME|其它||1
CombComPort|AUTFRAME|COM1||1
CHECKCMD|AUTFRAME|连接设备&C||1
Label2|Frame1|地址||1
GATEXT|Frame1|08000000||1
Command_GO|Frame1|运行&G|开发工程师比较喜欢用，Vekko就不喜欢用。|0
Label5|Frame4|文件：||1
TxtDownloadFile|Frame4|||0
CmdDownLoad|Frame4|选文件&B|选个文件下载到芯片上，不过得是HEX格式文件，不信您下个其它格式文件试试。|1
CmdStart|Frame4|编程&S||0
CmdStop|Frame4|中止&T||1
ChkErase|Frame4|擦除|编程前最好带擦除。|3
ChkCheck|Frame4|校验|比较耗时间|1
ChkSetreadProtect|Frame4|加密|置读保护。|1
CmdReadProtect|Frame2|置读保护&P|P|0
CmdReadUnProtect|Frame2|清读保护&U|P|0
CmdWriteProtect|Frame2|置写保护|P|0
CmdWriteUnProtect|Frame2|清写保护|P|0
Command_ER|Frame3|擦除&E|就是用扫把把每个单元都扫成FF，不过这不是我干的，是CPU它自已干的。|0
CmdRead|Frame3|读取&R|从片上读取程序，不知道想干吗用？|0
Label1|INFOFRAME|www.example.com||1
Label3|INFOFRAME|www.st.com||1
CmdHelp|INFOFRAME|&Help||1
StatusBar1Panel1|StatusBar1|状态||1
StatusBar1Panel2|StatusBar1|Ready||1
StatusBar1Panel3|StatusBar1|器件||1
StatusBar1Panel4|StatusBar1|||1
StatusBar1Panel5|StatusBar1|Praxon||1
StatusBar1Panel6|StatusBar1Panel6Box|未连接||1)");
        for (const QString& row : rows.split('\n')) {
            const QStringList f = row.split('|');
            const QString tip = f[3] == "P" ? QStringLiteral("设置完毕须复位后才能有效") : f[3];
            QTest::newRow(qPrintable(f[0])) << f[1] << f[2] << tip << f[4].toInt();
        }
    }
    void controls() {
        auto w = makeWindow();
        QWidget* widget = child(*w, QTest::currentDataTag());
        QVERIFY(widget);
        QTEST(widget->parentWidget()->objectName(), "parent");
        QString text;
        for (const char* property : {"text", "title", "currentText", "plainText"})
            if (text.isEmpty()) text = widget->property(property).toString();
        QTEST(text, "text");
        QTEST(widget->toolTip(), "tip");
        QTEST(int(widget->isEnabled()) + 2 * int(widget->property("checked").toBool()), "state");
        QCOMPARE(lamp(*w), "gray");
    }
    // Captions still fit their controls when the desktop uses a larger font.
    void captionsFit() {
        const QFont original = QApplication::font();
        QApplication::setFont(QFont(original.family(), 18));
        auto w = makeWindow();
        QApplication::setFont(original);
        QCOMPARE(w->windowTitle(), QStringLiteral("Praxon (1.0b)"));
        const QFontMetrics fm(w->font());
        for (QWidget* widget : w->findChildren<QWidget*>()) {
            const QString name = widget->objectName();
            if (!widget->isVisibleTo(w.get()) || name.startsWith(QLatin1String("CmdWrite")))
                continue;
            QString text = widget->property("text").toString().remove('&');
            if (!text.isEmpty() && qobject_cast<QLineEdit*>(widget) == nullptr)
                QVERIFY2(fm.horizontalAdvance(text) <= widget->width() &&
                             fm.height() <= widget->height() + 1,
                         qPrintable(name));
            if (qobject_cast<QGroupBox*>(widget->parentWidget()))
                QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()),
                         qPrintable(name));
        }
    }
    // The first ten ports as found. Leaving the list opens the port; choosing with the keys or
    // opening the drop-down does not. Opening it lists the ports again, as an adapter may have
    // been plugged in; the text stays. No ports at all: see the controls table.
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
        praxon::sim::SimulatorOptions options;
        options.board.flashKb = 16;
        sim_ = std::make_unique<praxon::sim::Simulator>(options);
        std::string error;
        QVERIFY2(sim_->start(&error), error.c_str());
        auto w = makeWindow();
        child<QComboBox>(*w, "CombComPort")->setEditText(QString::fromStdString(sim_->portPath()));
        child<QPushButton>(*w, "CHECKCMD")->click();
        QStringList expected = {"连接目标板......", "连接成功，准备获取器件信息......",
                                "器件信息为STM32F10x, PID=0410",
                                "FLASH容量为: 16K; RAM容量为: 未知."};
        QCOMPARE(log(*w), expected);
        QCOMPARE(w->panelText(2) + '|' + w->panelText(4) + '|' + w->panelText(6) + '|' + lamp(*w) +
                     '|' + enabledStates(*w),
                 QStringLiteral("收到ACK，可以ISP了。|STM32F10x, PID=0410|已连接.|green|11111100"));

        QByteArray data;
        child<QLineEdit>(*w, "TxtDownloadFile")->setText(writeHex(4096, 0, &data));
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
        QCOMPARE(flash(4097), data + char(0xFF));

        dialogs_.saveAnswers << work_.filePath(QStringLiteral("readback.bin"));
        child<QPushButton>(*w, "CmdRead")->click();
        QCOMPARE(dialogs_.saveFilters,
                 QStringList{"Intel Hex (*.hex);;Bin (*.bin);;所有文件(*.*)"});
        QCOMPARE(log(*w), expected << "开始读取数据......"
                                   << "读取完成, 读取时间为:N秒.");
        QCOMPARE(w->panelText(2) + enabledStates(*w), QStringLiteral("已读完.11111100"));
        QCOMPARE(QFileInfo(work_.filePath("readback.bin")).size(),
                 16 * 1024);  // contents: engine tests
        QCOMPARE(dialogs_.messages, QStringList{"Praxon: 请按中止按钮后退出。"});

        child<QLineEdit>(*w, "TxtDownloadFile")->setText(writeHex(4096, 1, &data));
        QVERIFY(startAndActWhileBusy(*w, [&] { child<QPushButton>(*w, "CmdStop")->click(); }));
        QVERIFY(!w->engine().busy() && flash(data.size()) != data);
        QCOMPARE(dialogs_.messages.last(), QStringLiteral("Praxon: 下载失败。"));
        QCOMPARE(w->panelText(6) + lamp(*w) + enabledStates(*w),
                 QStringLiteral("未连接gray00000000"));
        QVERIFY(w->close());
    }
    // Settings are loaded as stored and saved with only the blanks trimmed. Help and both links
    // (the outer pictures) are offered to the desktop; when it opens nothing, nothing is said.
    void settingsHelpAndLinks() {
        QDir().mkpath(QFileInfo(praxon::configFilePath()).path());
        QFile file(praxon::configFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("[Config]\nADD=\" 2000 \"\nFileName=\" /tmp/固件 a.hex "
                           "\"\nErase=0\nCheck=2\nReadPortect=1\n"));
        file.close();
        auto w = makeWindow();
        QString shown = child<QLineEdit>(*w, "GATEXT")->text() + '|' +
                        child<QLineEdit>(*w, "TxtDownloadFile")->text() + '|';
        for (const char* box : {"ChkErase", "ChkCheck", "ChkSetreadProtect"})
            shown += child<QCheckBox>(*w, box)->isChecked() ? '1' : '0';
        QCOMPARE(shown, " 2000 | /tmp/固件 a.hex |001");
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
        const praxon::ConfigValues saved = praxon::readConfig();
        QCOMPARE(saved.goAddress + '|' + saved.fileName + '|' + QChar('0' + saved.erase) +
                     QChar('0' + saved.check) + QChar('0' + saved.readProtect),
                 "2000|/tmp/固件 a.hex|001");
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
