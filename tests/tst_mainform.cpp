#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <QTableWidget>

#include "ComPorts.h"
#include "DialogProvider.h"
#include "MainForm.h"
#include "OptionBytesDialog.h"
#include "Settings.h"
#include "Simulator.h"

using praxon::MainForm;

namespace {
// Answers every dialog at once, file names and texts from one queue, and remembers what was
// asked; messages as "title: text".
struct ScriptedDialogs : praxon::DialogProvider {
    QStringList messages, answers, filters, asked, questions;
    QList<bool> yes;  // answers to yes/no questions; none left: No
    QList<QUrl> opened;
    QString next() { return answers.isEmpty() ? QString() : answers.takeFirst(); }
    void message(QWidget*, const QString& t, const QString& s) override {
        messages << t + ": " + s;
    }
    QString openFileName(QWidget*, const QString&, const QString& filter) override {
        return filters << filter, next();
    }
    QString saveFileName(QWidget*, const QString&, const QString& filter) override {
        return filters << filter, next();
    }
    // A null answer cancels. Asked as "title: label initial".
    QString askText(QWidget*, const QString& title, const QString& label, const QString& initial,
                    bool* ok) override {
        asked << title + ": " + label + initial;
        const QString answer = next();
        *ok = !answer.isNull();
        return answer;
    }
    bool openUrl(const QUrl& url) override { return opened << url, false; }  // nothing opens
    bool askYesNo(QWidget*, const QString& t, const QString& s) override {
        questions << t + ": " + s;
        return !yes.isEmpty() && yes.takeFirst();
    }
};

bool isChinese(const QString& text) {
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
    return text.contains(cjk);
}

// Names of the widgets under root whose caption, title, text or tool tip holds a Chinese
// character; not the texts the engine sets (the link panel) nor the languages' own names.
QStringList chineseIn(QWidget& root) {
    QStringList found;
    QList<QWidget*> widgets = root.findChildren<QWidget*>();
    widgets << &root;
    for (QWidget* w : widgets) {
        if (w->objectName() == "StatusBar1Panel6" || w->objectName() == "CboLanguage") continue;
        QString texts = w->toolTip() + w->windowTitle() + w->accessibleName();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) texts += b->text();
        if (auto* g = qobject_cast<QGroupBox*>(w)) texts += g->title();
        if (auto* l = qobject_cast<QLabel*>(w)) texts += l->text();
        if (auto* e = qobject_cast<QLineEdit*>(w)) texts += e->placeholderText();
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i) texts += c->itemText(i);
        if (isChinese(texts)) found << w->objectName();
    }
    return found;
}
}  // namespace

class TestMainForm : public QObject {
    Q_OBJECT
    QTemporaryDir config_, work_;
    ScriptedDialogs dialogs_;
    praxon::ListPortMap noPorts_;

    std::unique_ptr<MainForm> makeWindow(praxon::PortMap* ports = nullptr) {
        auto w = std::make_unique<MainForm>(
            praxon::MainFormOptions{nullptr, ports ? ports : &noPorts_, &dialogs_});
        w->show();
        return w;
    }
    template <class T = QWidget>
    static T* child(QWidget& w, const char* name) {
        return w.findChild<T*>(name);
    }
    // The settings as defaults, in language.
    static void storeLanguage(praxon::Language language) {
        praxon::ConfigValues config;
        config.language = language;
        praxon::writeConfig(config);
    }
    static void click(QWidget& w, const char* button) { child<QPushButton>(w, button)->click(); }
    // Chooses a file through 打开 with the load address typed for a binary one.
    void choose(MainForm& w, const QString& name, const QByteArray& data, const QString& typed) {
        QFile f(work_.filePath(name));
        if (f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush())
            dialogs_.answers << f.fileName() << typed;
        click(w, "CmdDownLoad");
    }
    // Link panel, lamp and the enabled operation buttons as 1 and 0, write-protect ones last.
    static QString linkState(MainForm& w) {
        QString s = w.panelText(6) + child(w, "StatusBar1Panel6Lamp")->property("lamp").toString();
        for (const char* name : {"CmdReadProtect", "CmdReadUnProtect", "CmdStart", "Command_ER",
                                 "Command_GO", "CmdRead", "CmdWriteProtect", "CmdWriteUnProtect"})
            s += child(w, name)->isEnabled() ? '1' : '0';
        return s;
    }
    // Clicks the button and calls act as soon as ready() holds, while the click is handled.
    // False when it never held.
    bool clickAndAct(QWidget& w, const char* button, const std::function<bool()>& ready,
                     const std::function<void()>& act) {
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (ready()) poll.stop(), act();
        });
        poll.start(5);
        click(w, button);
        return !poll.isActive();
    }
    // Clicks 选项, ticks the named choices, calls edit and closes what stays open with closeWith.
    void useOptions(MainForm& w, const QStringList& choices, const char* closeWith = "CmdOK",
                    const std::function<void(QWidget&)>& edit = {}) {
        clickAndAct(w, "CmdOptions", QApplication::activeModalWidget, [&] {
            QWidget* d = QApplication::activeModalWidget();
            for (const QString& c : choices) d->findChild<QAbstractButton*>(c)->click();
            if (edit) edit(*d);
            if (d->isVisible()) click(*d, closeWith);
        });
    }

    std::unique_ptr<praxon::sim::Simulator> sim_;  // the test's board, ended by cleanup()
    praxon::ListPortMap simPorts_;
    // Starts the test's board, answering at once, with its options changed by adjust.
    bool startBoard(const std::function<void(praxon::sim::SimulatorOptions&)>& adjust = {}) {
        praxon::sim::SimulatorOptions options;
        options.instant = true;
        if (adjust) adjust(options);
        sim_ = std::make_unique<praxon::sim::Simulator>(options);
        return sim_->start(nullptr);
    }
    // A window connected to the test's board, its port the only one listed.
    std::unique_ptr<MainForm> connected() {
        simPorts_ = praxon::ListPortMap::fromNames({QString::fromStdString(sim_->portPath())});
        auto w = makeWindow(&simPorts_);
        click(*w, "CHECKCMD");
        return w;
    }
    // Clicks 选项字节 in the options (opened by 选项), calls act with the option-bytes dialog,
    // closes it and then the options. False when either did not open.
    bool useOptionBytes(MainForm& w, const std::function<void(praxon::OptionBytesDialog&)>& act) {
        bool opened = false;
        clickAndAct(w, "CmdOptions", QApplication::activeModalWidget, [&] {
            QWidget* options = QApplication::activeModalWidget();
            auto over = [options] { return QApplication::activeModalWidget() != options; };
            clickAndAct(*options, "CmdOptionBytes", over, [&] {
                auto* d =
                    qobject_cast<praxon::OptionBytesDialog*>(QApplication::activeModalWidget());
                opened = d && d->parentWidget() == options;
                if (d) act(*d);
                if (d && d->isVisible()) click(*d, "CmdObClose");
            });
            if (options->isVisible()) click(*options, "CmdCancel");
        });
        return opened;
    }
    // The option-bytes table as NAME=VALUE: a choice's value or the text in the cell.
    static QStringList fieldValues(QWidget& d) {
        auto* table = child<QTableWidget>(d, "TblFields");
        QStringList rows;
        for (int r = 0; r < table->rowCount(); ++r) {
            auto* box = qobject_cast<QComboBox*>(table->cellWidget(r, 1));
            rows << table->item(r, 0)->text() + '=' +
                        (box ? box->currentData().toString() : table->item(r, 1)->text());
        }
        return rows;
    }
    // Chooses or types value in the named field's row.
    static void setField(QWidget& d, const QString& name, const QString& value) {
        auto* table = child<QTableWidget>(d, "TblFields");
        for (int r = 0; r < table->rowCount(); ++r) {
            if (table->item(r, 0)->text() != name) continue;
            if (auto* box = qobject_cast<QComboBox*>(table->cellWidget(r, 1)))
                box->setCurrentIndex(box->findData(value.toUInt()));
            else
                table->item(r, 1)->setText(value);
        }
    }
    // The language the window, the options and the open dialog's filter show: "en" when no
    // caption or tool tip keeps a Chinese character (the languages' own names and the engine's
    // texts aside), "zh" when the connect button's has one; then the help page offered.
    QString languageShown(MainForm& w) {
        QStringList chinese = chineseIn(w);
        clickAndAct(w, "CmdOptions", QApplication::activeModalWidget, [&] {
            chinese << chineseIn(*QApplication::activeModalWidget());
            click(*QApplication::activeModalWidget(), "CmdCancel");
        });
        click(w, "CmdDownLoad");  // cancelled
        if (isChinese(dialogs_.filters.last())) chinese << "filter";
        click(w, "CmdHelp");
        const QFileInfo help(dialogs_.opened.last().toLocalFile());
        return (chinese.isEmpty()              ? QString("en")
                : chinese.contains("CHECKCMD") ? QString("zh")
                                               : "Chinese in " + chinese.join(' ')) +
               '|' + (help.isFile() ? help.fileName() : "no help: " + help.filePath());
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
    void cleanup() { sim_.reset(); }
    // The log is emptied before a line once it holds more than 8096 characters, each line counted
    // with its time stamp and CR LF: 8096 are kept, 8097 are not.
    void logLimit() {
        auto w = makeWindow();
        w->setTimeOfDaySource([] { return QTime(9, 5, 7); });
        for (const QString& text : {QString(8085, 'a'), QString("b")}) w->appendLog(text);
        auto* log = child<QPlainTextEdit>(*w, "TxtMsg");
        QCOMPARE(log->toPlainText(), "09:05:07 " + QString(8085, 'a') + "\n09:05:07 b\n");
        for (const QString& text : {QString("c"), QString(8074, 'a'), QString("d")})
            w->appendLog(text);
        QCOMPARE(log->toPlainText(), "09:05:07 d\n");
    }
    // Against a board whose first 8 KB hold old data, its port listed first:
    // connect; program a binary file (named .hex: the content decides) with the compatible writes
    // and only its pages erased (a close is refused meanwhile); read back; program without erasing
    // and Stop. Then with 编程后运行 a bad Go address is refused before anything is sent, a good
    // one is run once the file is written.
    void session() {
        QVERIFY(startBoard([](praxon::sim::SimulatorOptions& o) {
            o.board.flashKb = 16;
            o.board.uid = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
        }));
        praxon::sim::Simulator& sim = *sim_;
        const QByteArray old(8 * 1024, 0x5A), erased(8 * 1024, char(0xFF));
        sim.loadFlash(0, std::vector<uint8_t>(old.begin(), old.end()));
        auto flash = [&] { return QByteArray((const char*)sim.flashImage().data(), 16 * 1024); };
        auto w = connected();
        QCOMPARE(w->panelText(2) + '|' + w->panelText(4) + '|' + linkState(*w),
                 QStringLiteral("收到ACK，可以ISP了。|STM32F10x, PID=0410|已连接.green11111100"));
        QCOMPARE(child(*w, "StatusBar1Panel4")->toolTip(),
                 "STM32F10x medium-density\nFLASH: 16K\nRAM: 未知\nBootloader版本: 2.2\n"
                 "唯一ID: 112233445566778899AABBCC");

        useOptions(*w, {"OptCompatible", "OptErasePages"});
        QByteArray data(2048, 0);
        for (int i = 0; i < data.size(); ++i) data[i] = char((i * 7 + (i >> 8)) & 0xFF);
        choose(*w, "fw.hex", data, " 8001000 ");
        // The answered load address is shown with the file.
        QVERIFY(child(*w, "TxtDownloadFile")->toolTip().contains("08001000"));
        // Blocks are being written.
        auto writing = [&] { return w->engine().busy() && w->panelText(2).startsWith("完成"); };
        QVERIFY(clickAndAct(*w, "CmdStart", writing, [&] {
            QVERIFY(!w->close() && w->engine().busy() && w->isVisible());  // refused meanwhile
        }));
        QCOMPARE(w->panelText(2) + linkState(*w), QStringLiteral("下载结束.已连接.green11111100"));
        QCOMPARE(flash(),
                 old.left(4096) + data + old.left(2048) + erased);  // only its pages erased

        dialogs_.answers << work_.filePath(QStringLiteral("readback.bin"));
        click(*w, "CmdRead");
        QCOMPARE(dialogs_.filters, QStringList({MainForm::openFilter(), MainForm::saveFilter()}));
        QCOMPARE(w->panelText(2) + linkState(*w), QStringLiteral("已读完.已连接.green11111100"));
        // Binary, as the name asks (Intel HEX would be larger); the data itself is checked by the
        // engine's own tests.
        QCOMPARE(QFileInfo(work_.filePath("readback.bin")).size(), 16 * 1024);

        const uint64_t erases = sim.counters().perCommand[0x43];
        QCOMPARE(erases, 1u);  // the pages of the first file, in one Erase
        choose(*w, "second.bin", data + data, "08002000");
        child<QCheckBox>(*w, "ChkErase")->setChecked(false);
        QVERIFY(clickAndAct(*w, "CmdStart", writing, [&] { click(*w, "CmdStop"); }));
        QCOMPARE(sim.counters().perCommand[0x43], erases);
        QVERIFY(!w->engine().busy() && flash().mid(0x2000, 4096) != data + data);
        QCOMPARE(linkState(*w), QStringLiteral("未连接gray00000000"));

        useOptions(*w, {"ChkRunAfterProgram"});
        child<QCheckBox>(*w, "ChkErase")->setChecked(true);
        sim.reset();  // the board was left inside a write
        click(*w, "CHECKCMD");
        const uint64_t written = sim.counters().writeBytes;
        for (const char* address : {"08O00000", " 8002000 "}) {
            child<QLineEdit>(*w, "GATEXT")->setText(address);
            click(*w, "CmdStart");
        }
        // Go returns without the board's last answer: let it take the address (its thread may
        // be slow to run on a loaded machine).
        QTRY_VERIFY_WITH_TIMEOUT(sim.state() == praxon::sim::Board::State::Running, 60000);
        QCOMPARE(sim.counters().goAddress.value_or(0), 0x8002000u);
        QCOMPARE(sim.counters().writeBytes - written, 4096u);
        QCOMPARE(dialogs_.messages,
                 QStringList({"Praxon: 请按中止按钮后退出。", "Praxon: 下载失败。",
                              "Praxon: 运行地址无效，请输入十六进制地址。"}));
        QVERIFY(w->close());
    }
    // Settings are loaded as stored and saved with only the blanks trimmed; the options and the
    // load address come back as they were left. A cancelled or refused load address keeps the
    // file chosen before.
    void settingsAndFileChoice() {
        const praxon::Wiring wiring{praxon::WiredLine::Rts, true, praxon::WiredLine::Dtr};
        praxon::writeConfig({" /tmp/a\"b;c=1,d 固件.hex ", " 2000 ", false, false, true,
                             praxon::WriteMode::Compatible, true, 0x08001000, wiring, "", 57600,
                             true, 96});
        auto w = makeWindow();
        auto* file = child<QLineEdit>(*w, "TxtDownloadFile");
        choose(*w, "b.bin", "", QString());
        choose(*w, "c.bin", "", "0800G000");
        QCOMPARE(file->text() + '|' + dialogs_.asked.value(1),
                 " /tmp/a\"b;c=1,d 固件.hex |Praxon: BIN文件的装载地址（十六进制）：08001000");
        QCOMPARE(file->toolTip(), QString());  // no load address for a HEX file
        // Both refusals keep the dialog open (else the stored 96 and erase scope would be lost).
        useOptions(*w, {"OptFast", "OptEraseChip"}, "CmdCancel", [&](QWidget& d) {
            child<QLineEdit>(d, "TxtFlashKB")->setText("0");
            click(d, "CmdOK");  // refused: not a size
            child<QComboBox>(d, "CboWiring")->setCurrentIndex(3);
            child<QLineEdit>(d, "TxtSequence")->setText("dtr=1,wiat:rts=1");
            click(d, "CmdOK");  // refused: the sequence, checked first
        });
        QVERIFY(dialogs_.messages.takeLast().startsWith("Praxon: 自定义序列第7个字符处有误："));
        QVERIFY(dialogs_.messages.takeLast().startsWith("Praxon: FLASH容量请填1到65535"));
        QCOMPARE(w->engine().flashSizeOverride(), 96);
        useOptions(*w, {"OptFast"}, "CmdOK", [&](QWidget& d) {  // the erase scope stays as stored
            auto* kb = child<QLineEdit>(d, "TxtFlashKB");
            QCOMPARE(kb->text(), "96");
            kb->setText(" 1536 ");
        });
        QCOMPARE(w->engine().flashSizeOverride(), 1536);

        QCOMPARE(dialogs_.messages,
                 QStringList{"Praxon: 装载地址无效，请输入十六进制地址，例如08000000。"});
        QVERIFY(w->close());
        const praxon::ConfigValues v = praxon::readConfig();
        QCOMPARE(v.goAddress + '|' + v.fileName + '|' + QString::number(v.binAddress, 16),
                 "2000|/tmp/a\"b;c=1,d 固件.hex|8001000");
        QVERIFY(!v.erase && !v.check && v.readProtect && v.writeMode == praxon::WriteMode::Fast &&
                v.erasePagesOnly);
        QVERIFY(v.wiring.resetInverted && v.wiring.boot0 == praxon::WiredLine::Dtr &&
                v.baudRate == 57600 && v.runAfterProgram && v.flashKB == 1536);
    }

    // The language as stored at start, then chosen in the options (the one in use again: no
    // change), reaches the window and is remembered. The help (copied beside the program by the
    // build) is offered to the desktop; when it opens nothing, nothing is said. A HEX file chosen
    // under a .bin name is taken without asking for a load address.
    void languages() {
        storeLanguage(praxon::Language::English);
        auto w = makeWindow();
        QSignalSpy changes(w.get(), &MainForm::languageChanged);
        choose(*w, "h.bin", ":00000001FF\r\n", QString());
        QCOMPARE(dialogs_.asked, QStringList());
        QCOMPARE(child<QLineEdit>(*w, "TxtDownloadFile")->text(), work_.filePath("h.bin"));
        QCoreApplication::processEvents();  // a change reaches the widgets as a posted event
        QCOMPARE(languageShown(*w), "en|Praxon.en.html");
        for (const char* language : {"中文", "中文", "English"}) {
            useOptions(*w, {}, "CmdOK", [&](QWidget& d) {
                auto* box = child<QComboBox>(d, "CboLanguage");
                box->setCurrentIndex(box->findText(language));
            });
            QCoreApplication::processEvents();
            if (changes.size() == 1) QCOMPARE(languageShown(*w), "zh|Praxon.html");
        }
        QCOMPARE(changes.size(), 2);
        QCOMPARE(languageShown(*w), "en|Praxon.en.html");
        QCOMPARE(dialogs_.messages, QStringList());  // the help not opened by the desktop: no word
        QVERIFY(w->close());
        QCOMPARE(praxon::readConfig().language, praxon::Language::English);
    }
    // In English no caption, choice or meaning of the option-bytes dialog keeps a Chinese
    // character. Read shows every field of the chip's option bytes as decoded, and the pages the
    // write protection covers; a failed Read leaves no values from before and nothing to write.
    // A changed value goes to the chip as one NAME=VALUE edit and is read back after the chip's
    // reset; an unchanged or refused one writes nothing, and a refused one stays to be corrected.
    // The wait for the board's reset after a write ends with the dialog's own Stop (the window's
    // cannot be reached under it); meanwhile the dialog does not close.
    void optionBytesEdit() {
        storeLanguage(praxon::Language::English);
        QVERIFY(startBoard([](praxon::sim::SimulatorOptions& o) {
            o.board.optionEdits = {"WRP0=0xFC", "DATA1=0x5A"};
        }));
        praxon::sim::Simulator& sim = *sim_;
        auto w = connected();
        const QStringList shown = {"RDP=0",      "WDG_SW=1",   "nRST_STOP=1", "nRST_STDBY=1",
                                   "DATA0=0xFF", "DATA1=0x5A", "WRP0=0xFC",   "WRP1=0xFF",
                                   "WRP2=0xFF",  "WRP3=0xFF"};
        // Sets the fields and writes: the edits sent, '|', the option writes that reached the chip.
        auto write = [&](praxon::OptionBytesDialog& d, const QStringList& fields) {
            for (const QString& f : fields) setField(d, f.section('=', 0, 0), f.section('=', 1));
            const QString edits = d.edits().join(' ') + '|';
            const uint64_t writes = sim.counters().optionWrites;
            click(d, "CmdObWrite");
            return edits + QString::number(sim.counters().optionWrites - writes);
        };
        QVERIFY(useOptionBytes(*w, [&](praxon::OptionBytesDialog& d) {
            QStringList chinese = chineseIn(d);
            auto* table = child<QTableWidget>(d, "TblFields");
            for (int r = 0; r < table->rowCount(); ++r)
                if (isChinese(table->item(r, 2)->text())) chinese << table->item(r, 0)->text();
            QCOMPARE(chinese, QStringList());
            QCOMPARE(fieldValues(d), shown);  // as the connect read them
            sim.setFaults({{praxon::sim::FaultKind::Nack, 0x11, 0, 1}});  // Read Memory refused
            click(d, "CmdObRead");
            QCOMPARE(fieldValues(d), QStringList());
            QVERIFY(!child(d, "CmdObWrite")->isEnabled());
            sim.setFaults({});
            click(d, "CmdObRead");
            QCOMPARE(fieldValues(d), shown);
            // 4 KB blocks 0 and 1: the first eight 1 KB pages.
            QVERIFY(child<QLabel>(d, "LblProtected")->text().contains("0-7 (08000000-08001FFF)"));
            QCOMPARE(write(d, {"DATA1=90"}), "|0");              // the same value retyped
            QCOMPARE(write(d, {"DATA0=0x1G"}), "DATA0=0x1G|0");  // refused by the engine
            QCOMPARE(d.edits(), QStringList{"DATA0=0x1G"});
            QCOMPARE(write(d, {"DATA0= 18 "}), "DATA0=0x12|1");  // decimal typed, sent in hex
            QCOMPARE(write(d, {"nRST_STOP=0", "WRP0=0xf0"}), "nRST_STOP=0 WRP0=0xF0|1");
            QStringList readBack = shown;  // the table shows what the engine read after the reset
            readBack[2] = "nRST_STOP=0", readBack[4] = "DATA0=0x12", readBack[6] = "WRP0=0xF0";
            QCOMPARE(fieldValues(d), readBack);
            // The reconnect after a write keeps the chip's tip.
            QVERIFY(child(*w, "StatusBar1Panel4")->toolTip().contains("ID: 507261786F6E53696D"));

            sim.setFaults(
                {{praxon::sim::FaultKind::Silent, 0x7F, 0, 1}});  // never back after reset
            w->engine().setResetWait(600000);  // longer than the test may run: only Stop ends it
            setField(d, "DATA0", "1");
            auto waiting = [&] { return w->engine().busy() && sim.counters().optionWrites == 3; };
            QVERIFY(clickAndAct(d, "CmdObWrite", waiting, [&] {
                d.reject();
                QVERIFY(d.isVisible());
                click(d, "CmdObStop");
            }));
            QVERIFY(!w->engine().busy());
            // The options under it no longer offer the option bytes of a lost link.
            QVERIFY(!child(*d.parentWidget(), "CmdOptionBytes")->isEnabled());
        }));
        QVERIFY(linkState(*w).endsWith("gray00000000"));
    }
    // Readout level 2 is permanent: it is sent only with its box ticked and a Yes to the
    // question, and then with the engine's permission. The board is an STM32F0, which has level 2.
    void readoutLevel2() {
        QVERIFY(startBoard([](praxon::sim::SimulatorOptions& o) { o.board.pid = 0x440; }));
        praxon::sim::Simulator& sim = *sim_;
        auto w = connected();
        w->engine().setResetWait(300);  // a chip at level 2 never answers again
        dialogs_.yes = {false, true};
        QVERIFY(useOptionBytes(*w, [&](praxon::OptionBytesDialog& d) {
            click(d, "CmdObRead");
            setField(d, "RDP", "2");
            QCOMPARE(d.edits(), QStringList{"RDP=2"});
            click(d, "CmdObWrite");  // the box not ticked: refused, saying what to tick
            child<QCheckBox>(d, "ChkPermanent")->setChecked(true);
            click(d, "CmdObWrite");  // No
            QCOMPARE(sim.counters().optionWrites, 0u);
            click(d, "CmdObWrite");  // Yes
        }));
        QCOMPARE(dialogs_.messages.size(), 1);
        QCOMPARE(dialogs_.questions.size(), 2);  // none for the unticked box
        QCOMPARE(sim.counters().optionWrites, 1u);
        QVERIFY(sim.readoutProtected());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
