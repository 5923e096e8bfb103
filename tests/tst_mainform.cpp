#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "ComPorts.h"
#include "DialogProvider.h"
#include "Engine.h"
#include "IntelHex.h"
#include "MainForm.h"
#include "Settings.h"
#include "Simulator.h"

using praxon::Lamp;
using praxon::ListPortMap;
using praxon::MainForm;

namespace {

// Answers every dialog at once and remembers what was asked.
class ScriptedDialogs : public praxon::DialogProvider {
public:
    struct Shown {
        QString title;
        QString text;
    };
    QList<Shown> messages;
    QStringList openAnswers, saveAnswers;  // taken from the front; empty: cancelled
    QStringList openFolders, openFilters, saveFolders, saveFilters;
    QList<QUrl> opened;
    std::function<void(const QString&)> onMessage;

    void message(QWidget*, const QString& title, const QString& text) override {
        messages.append({title, text});
        if (onMessage) onMessage(text);
    }
    QString openFileName(QWidget*, const QString& folder, const QString& filter) override {
        openFolders << folder;
        openFilters << filter;
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& folder, const QString& filter) override {
        saveFolders << folder;
        saveFilters << filter;
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    bool openUrl(const QUrl& url) override {
        opened << url;
        return true;
    }
    QStringList texts() const {
        QStringList t;
        for (const Shown& m : messages) t << m.text;
        return t;
    }
};

// Intel HEX of data at 0x08000000 (a multiple of 64 bytes), as the window's own writer lays it out.
QByteArray makeHex(const QByteArray& data) {
    std::string text = praxon::ExtendedLinearAddressLine(0x08000000) + "\r\n";
    for (int i = 0; i < data.size(); i += 64)
        text += praxon::DataRecordLine(0x08000000 + i,
                                       reinterpret_cast<const uint8_t*>(data.constData()) + i, 64) +
                "\r\n";
    return QByteArray::fromStdString(text + praxon::EndOfFileLine() + "\r\n");
}

QByteArray pattern(int size, int seed) {
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i) bytes[i] = char((i * 7 + seed * 13 + (i >> 8)) & 0xFF);
    return bytes;
}

struct Board {
    std::unique_ptr<praxon::sim::Simulator> sim;
    QString port;
};

}  // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void controls_data();
    void controls();
    void initialState();
    void layoutFitsCaptions_data();
    void layoutFitsCaptions();
    void portListAtLoad_data();
    void portListAtLoad();
    void portListRefilledOnOpenKeepsText();

    void programReadEraseGo();
    void closeRefusedWhileProgramming();
    void stopWhileProgramming();

    void settingsSavedAtExitAndRestored_data();
    void settingsSavedAtExitAndRestored();
    void helpAndPictures();

private:
    std::unique_ptr<MainForm> makeWindow(praxon::PortMap* ports = nullptr,
                                         praxon::SerialPort* port = nullptr);
    Board startBoard(praxon::sim::SimulatorOptions options = {});
    bool connectTo(MainForm& w, const QString& port);
    template <class T>
    T* child(MainForm& w, const char* name) {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    static QStringList logMessages(MainForm& w);
    void writeSettings(const QByteArray& ini);

    QTemporaryDir config_;
    QTemporaryDir work_;
    ScriptedDialogs dialogs_;
    ListPortMap noPorts_;
};

void TestMainForm::initTestCase() {
    QVERIFY(config_.isValid());
    QVERIFY(work_.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Praxon"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config_.path());
}

void TestMainForm::init() {
    QFile::remove(praxon::configFilePath());
    dialogs_ = ScriptedDialogs();
}

std::unique_ptr<MainForm> TestMainForm::makeWindow(praxon::PortMap* ports,
                                                   praxon::SerialPort* port) {
    praxon::MainFormOptions options;
    options.ports = ports ? ports : &noPorts_;
    options.port = port;
    options.dialogs = &dialogs_;
    auto w = std::make_unique<MainForm>(options);
    w->show();
    return w;
}

Board TestMainForm::startBoard(praxon::sim::SimulatorOptions options) {
    Board board;
    board.sim = std::make_unique<praxon::sim::Simulator>(options);
    std::string error;
    if (!board.sim->start(&error)) qWarning("simulator: %s", error.c_str());
    board.port = QString::fromStdString(board.sim->portPath());
    return board;
}

bool TestMainForm::connectTo(MainForm& w, const QString& port) {
    child<QComboBox>(w, "CombComPort")->setEditText(port);
    child<QPushButton>(w, "CHECKCMD")->click();
    return w.lamp() == Lamp::Green;
}

QStringList TestMainForm::logMessages(MainForm& w) {
    QStringList messages;
    const QStringList lines = w.findChild<QPlainTextEdit*>(QStringLiteral("TxtMsg"))
                                  ->toPlainText()
                                  .split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.isEmpty()) continue;
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        messages << (blank < 0 ? QString() : line.mid(blank + 1));
    }
    return messages;
}

void TestMainForm::writeSettings(const QByteArray& ini) {
    const QString path = praxon::configFilePath();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(ini);
}

// ---------------------------------------------------------------------------------------------
// The window as it loads

void TestMainForm::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tip");
    const QString protectTip = QStringLiteral("设置完毕须复位后才能有效");
    const struct {
        const char* name;
        const char* parent;
        QString text;
        QString tip;
    } rows[] = {
        {"AUTFRAME", "OPFRAME", "连接", ""},
        {"Frame1", "OPFRAME", "运行", ""},
        {"Frame4", "OPFRAME", "编程", ""},
        {"Frame2", "OPFRAME", "保护", ""},
        {"Frame3", "OPFRAME", "其它", ""},
        {"CombComPort", "AUTFRAME", "COM1", ""},
        {"CHECKCMD", "AUTFRAME", "连接设备&C", ""},
        {"Label2", "Frame1", "地址", ""},
        {"GATEXT", "Frame1", "08000000", ""},
        {"Command_GO", "Frame1", "运行&G", "开发工程师比较喜欢用，Vekko就不喜欢用。"},
        {"Label5", "Frame4", "文件：", ""},
        {"TxtDownloadFile", "Frame4", "", ""},
        {"CmdDownLoad", "Frame4", "选文件&B",
         "选个文件下载到芯片上，不过得是HEX格式文件，不信您下个其它格式文件试试。"},
        {"CmdStart", "Frame4", "编程&S", ""},
        {"CmdStop", "Frame4", "中止&T", ""},
        {"ChkErase", "Frame4", "擦除", "编程前最好带擦除。"},
        {"ChkCheck", "Frame4", "校验", "比较耗时间"},
        {"ChkSetreadProtect", "Frame4", "加密", "置读保护。"},
        {"CmdReadProtect", "Frame2", "置读保护&P", protectTip},
        {"CmdReadUnProtect", "Frame2", "清读保护&U", protectTip},
        {"CmdWriteProtect", "Frame2", "置写保护", protectTip},
        {"CmdWriteUnProtect", "Frame2", "清写保护", protectTip},
        {"Command_ER", "Frame3", "擦除&E",
         "就是用扫把把每个单元都扫成FF，不过这不是我干的，是CPU它自已干的。"},
        {"CmdRead", "Frame3", "读取&R", "从片上读取程序，不知道想干吗用？"},
        {"TxtMsg", "OPFRAME", "", ""},
        {"Picture2", "INFOFRAME", "", ""},
        {"Label1", "INFOFRAME", "www.example.com", ""},
        {"Picture1", "INFOFRAME", "", ""},
        {"Label3", "INFOFRAME", "www.st.com", ""},
        {"Picture3", "INFOFRAME", "", ""},
        {"CmdHelp", "INFOFRAME", "&Help", ""},
    };
    for (const auto& r : rows)
        QTest::newRow(r.name) << QString::fromLatin1(r.name) << QString::fromLatin1(r.parent)
                              << r.text << r.tip;
}

void TestMainForm::controls() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QString, text);
    QFETCH(QString, tip);
    auto w = makeWindow();
    QWidget* widget = w->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QString actual;
    if (auto* b = qobject_cast<QAbstractButton*>(widget))
        actual = b->text();
    else if (auto* g = qobject_cast<QGroupBox*>(widget))
        actual = g->title();
    else if (auto* c = qobject_cast<QComboBox*>(widget))
        actual = c->currentText();
    else if (auto* e = qobject_cast<QLineEdit*>(widget))
        actual = e->text();
    else if (auto* l = qobject_cast<QLabel*>(widget))
        actual = l->pixmap().isNull() ? l->text() : QString();
    else if (auto* t = qobject_cast<QPlainTextEdit*>(widget))
        actual = t->toPlainText();
    QCOMPARE(actual, text);
    QCOMPARE(widget->toolTip(), tip);
    if (name.startsWith(QLatin1String("Picture"))) {
        QVERIFY(!static_cast<QLabel*>(widget)->pixmap().isNull());
        QCOMPARE(widget->cursor().shape() == Qt::BitmapCursor, name != QLatin1String("Picture3"));
    }
}

void TestMainForm::initialState() {
    auto w = makeWindow();
    QCOMPARE(w->objectName(), QStringLiteral("MAINFORM"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Praxon (1.0b)"));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY(!w->windowIcon().isNull());
    const QString panels[6] = {"状态", "Ready", "器件", "", "Praxon", "未连接"};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(w->panelText(i + 1), panels[i]);
        auto* label = w->findChild<QLabel*>(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        QVERIFY(label);
        QCOMPARE(label->text(), panels[i]);
    }
    QCOMPARE(w->lamp(), Lamp::Gray);
    auto* lamp = child<QLabel>(*w, "StatusBar1Panel6Lamp");
    QCOMPARE(lamp->property("lamp").toString(), QStringLiteral("gray"));
    QVERIFY(!lamp->pixmap().isNull());
    QCOMPARE(w->statusBar()->objectName(), QStringLiteral("StatusBar1"));

    for (const char* name : {"CmdReadProtect", "CmdReadUnProtect", "CmdStart", "Command_ER",
                             "Command_GO", "CmdRead", "CmdWriteProtect", "CmdWriteUnProtect"})
        QVERIFY2(!child<QWidget>(*w, name)->isEnabled(), name);
    for (const char* name : {"CHECKCMD", "CmdStop", "CmdDownLoad", "CmdHelp", "CombComPort",
                             "GATEXT", "ChkErase", "ChkCheck", "ChkSetreadProtect", "TxtMsg"})
        QVERIFY2(child<QWidget>(*w, name)->isEnabled(), name);
    QVERIFY(!child<QWidget>(*w, "TxtDownloadFile")->isEnabled());
    QVERIFY(child<QCheckBox>(*w, "ChkErase")->isChecked());
    QVERIFY(!child<QCheckBox>(*w, "ChkCheck")->isChecked());
    QVERIFY(!child<QCheckBox>(*w, "ChkSetreadProtect")->isChecked());
    QVERIFY(child<QComboBox>(*w, "CombComPort")->isEditable());
    auto* log = child<QPlainTextEdit>(*w, "TxtMsg");
    QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(w->dialogFolder(), QCoreApplication::applicationDirPath());
    // The write-protect buttons lie beyond the right edge of their group.
    auto* group = child<QWidget>(*w, "Frame2");
    QVERIFY(child<QWidget>(*w, "CmdWriteProtect")->x() >= group->width());
}

void TestMainForm::layoutFitsCaptions_data() {
    QTest::addColumn<int>("pointSize");
    QTest::newRow("default font") << 0;
    QTest::newRow("12 pt") << 12;
    QTest::newRow("18 pt") << 18;
}

void TestMainForm::layoutFitsCaptions() {
    QFETCH(int, pointSize);
    const QFont original = QApplication::font();
    if (pointSize > 0) {
        QFont font = original;
        font.setPointSize(pointSize);
        QApplication::setFont(font);
    }
    auto w = makeWindow();
    QApplication::setFont(original);
    const QFontMetrics fm(w->font());
    QVERIFY(w->layoutScale() >= 1.0);
    for (QWidget* widget : w->findChildren<QWidget*>()) {
        const QString name = widget->objectName();
        if (name.isEmpty() || !widget->isVisibleTo(w.get())) continue;
        if (name == QLatin1String("CmdWriteProtect") || name == QLatin1String("CmdWriteUnProtect"))
            continue;
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(widget))
            text = b->text().remove('&');
        else if (auto* l = qobject_cast<QLabel*>(widget))
            text = l->text();
        if (!text.isEmpty())
            QVERIFY2(fm.horizontalAdvance(text) <= widget->width(),
                     qPrintable(name + QStringLiteral(" clipped")));
        if (!text.isEmpty() && !name.startsWith(QLatin1String("StatusBar1")))
            QVERIFY2(fm.height() <= widget->height() + 1,
                     qPrintable(name + QStringLiteral(" too low")));
        // Every control lies inside its group.
        QWidget* parent = widget->parentWidget();
        if (qobject_cast<QGroupBox*>(parent))
            QVERIFY2(parent->rect().contains(widget->geometry()), qPrintable(name));
    }
    // The fixed client area keeps the design's proportions.
    QVERIFY(qAbs(double(w->width()) / w->height() - 8940.0 / 6525.0) < 0.02);
}

// ---------------------------------------------------------------------------------------------
// Port list

void TestMainForm::portListAtLoad_data() {
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("items");
    QTest::newRow("three ports, first found is the text")
        << QStringList{"COM3", "COM1", "COM4"} << "COM3" << 3;
    QStringList twelve;
    for (int i = 1; i <= 12; ++i) twelve << QStringLiteral("ttyUSB%1").arg(i);
    QTest::newRow("twelve ports, ten listed") << twelve << "ttyUSB1" << 10;
    QTest::newRow("no ports") << QStringList{} << "COM1" << 0;
}

void TestMainForm::portListAtLoad() {
    QFETCH(QStringList, found);
    ListPortMap map = ListPortMap::fromNames(found);
    auto w = makeWindow(&map);
    auto* list = child<QComboBox>(*w, "CombComPort");
    QTEST(list->currentText(), "text");
    QFETCH(int, items);
    QCOMPARE(list->count(), items);
    for (int i = 0; i < items; ++i) QCOMPARE(list->itemText(i), found.at(i));
    QVERIFY(!child<QWidget>(*w, "CmdStart")->isEnabled());
}

void TestMainForm::portListRefilledOnOpenKeepsText() {
    ListPortMap before = ListPortMap::fromNames({"ttyS0"});
    ListPortMap after = ListPortMap::fromNames({"ttyS0", "ttyUSB0"});
    praxon::PortMap* current = &before;
    // A map that forwards to whichever list is current, as plugging in an adapter would.
    struct Forward : praxon::PortMap {
        praxon::PortMap** target;
        bool open() override { return (*target)->open(); }
        bool valueName(int i, QString* n) override { return (*target)->valueName(i, n); }
        bool valueData(const QString& n, QString* d) override { return (*target)->valueData(n, d); }
        void close() override { (*target)->close(); }
    } forward;
    forward.target = &current;
    auto w = makeWindow(&forward);
    auto* list = child<QComboBox>(*w, "CombComPort");
    QCOMPARE(list->count(), 1);
    list->setEditText(QStringLiteral("/dev/pts/9"));
    current = &after;
    list->showPopup();
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->itemText(1), QStringLiteral("ttyUSB0"));
    QCOMPARE(list->currentText(), QStringLiteral("/dev/pts/9"));
    list->hidePopup();
    list->setCurrentIndex(1);  // chosen from the list
    current = &before;
    list->showPopup();
    list->hidePopup();
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentText(), QStringLiteral("ttyUSB0"));
}

// ---------------------------------------------------------------------------------------------
// Against the simulated board

void TestMainForm::programReadEraseGo() {
    praxon::sim::SimulatorOptions options;
    options.instant = false;  // paced: reads of whole blocks at line speed
    options.board.flashKb = 16;
    options.board.fourByteGetId = true;
    options.board.ramField = 20;
    Board board = startBoard(options);
    const QByteArray firmware = pattern(1024, 1);
    const QString hexPath = work_.filePath(QStringLiteral("firmware.hex"));
    {
        QFile f(hexPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(makeHex(firmware));
    }
    auto w = makeWindow();
    QVERIFY(connectTo(*w, board.port));
    QCOMPARE(logMessages(*w), (QStringList{"连接目标板......", "连接成功，准备获取器件信息......",
                                           "器件信息为STM32F10x, PID=04100000",
                                           "FLASH容量为: 16K; RAM容量为: 20K."}));
    QCOMPARE(w->panelText(2), QStringLiteral("收到ACK，可以ISP了。"));
    QCOMPARE(w->panelText(4), QStringLiteral("STM32F10x, PID=04100000"));
    QCOMPARE(w->panelText(6), QStringLiteral("已连接."));
    QCOMPARE(child<QLabel>(*w, "StatusBar1Panel6Lamp")->property("lamp").toString(),
             QStringLiteral("green"));
    for (const char* name :
         {"CmdReadProtect", "CmdReadUnProtect", "CmdStart", "Command_ER", "Command_GO", "CmdRead"})
        QVERIFY2(child<QWidget>(*w, name)->isEnabled(), name);
    QVERIFY(!child<QWidget>(*w, "CmdWriteProtect")->isEnabled());
    const QString first = child<QPlainTextEdit>(*w, "TxtMsg")->toPlainText().section('\n', 0, 0);
    QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d ").match(first).hasMatch(),
             qPrintable(first));

    // Program with erase and verify.
    dialogs_.openAnswers << hexPath;
    child<QPushButton>(*w, "CmdDownLoad")->click();
    child<QCheckBox>(*w, "ChkCheck")->setChecked(true);
    child<QPushButton>(*w, "CmdStart")->click();
    QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.texts().join('|')));
    const QStringList log = logMessages(*w);
    QVERIFY(log.contains(QStringLiteral("擦除成功。")));
    QVERIFY(log.contains(QStringLiteral("开始编程......")));
    QVERIFY2(QRegularExpression(QStringLiteral("^编程成功, 用时共\\d*\\.\\d\\d秒。$"))
                 .match(log.last())
                 .hasMatch(),
             qPrintable(log.last()));
    QCOMPARE(w->panelText(2), QStringLiteral("下载结束."));
    const std::vector<uint8_t> flash = board.sim->flashImage();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(flash.data()), firmware.size()), firmware);
    QCOMPARE(flash[size_t(firmware.size())], uint8_t(0xFF));

    // Read it back as a binary image.
    const QString binPath = work_.filePath(QStringLiteral("readback.bin"));
    dialogs_.saveAnswers << binPath;
    child<QPushButton>(*w, "CmdRead")->click();
    QCOMPARE(dialogs_.saveFilters,
             QStringList{QStringLiteral("Intel Hex (*.hex);;Bin (*.bin);;所有文件(*.*)")});
    QCOMPARE(dialogs_.saveFolders, QStringList{QCoreApplication::applicationDirPath()});
    QFile bin(binPath);
    QVERIFY(bin.open(QIODevice::ReadOnly));
    const QByteArray image = bin.readAll();
    QCOMPARE(image.size(), 16 * 1024);
    QCOMPARE(image.left(firmware.size()), firmware);

    // Go: the board runs the program and the window returns to not connected.
    child<QLineEdit>(*w, "GATEXT")->setText(QStringLiteral("08000000"));
    child<QPushButton>(*w, "Command_GO")->click();
    QTRY_VERIFY(board.sim->counters().goAddress.has_value());
    QCOMPARE(*board.sim->counters().goAddress, 0x08000000u);
    QCOMPARE(w->panelText(6), QStringLiteral("未连接"));
    QCOMPARE(w->lamp(), Lamp::Gray);
    QVERIFY(!child<QWidget>(*w, "CmdStart")->isEnabled());
    QVERIFY(dialogs_.messages.isEmpty());
}

void TestMainForm::closeRefusedWhileProgramming() {
    praxon::sim::SimulatorOptions options;  // paced like a real line, so programming takes a while
    options.board.flashKb = 16;
    Board board = startBoard(options);
    const QByteArray firmware = pattern(2048, 2);
    const QString hexPath = work_.filePath(QStringLiteral("slow.hex"));
    {
        QFile f(hexPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(makeHex(firmware));
    }
    auto w = makeWindow();
    QVERIFY(connectTo(*w, board.port));
    child<QCheckBox>(*w, "ChkErase")->setChecked(false);
    child<QLineEdit>(*w, "TxtDownloadFile")->setText(hexPath);

    // Once the download is under way: ask to close, then click the vendor picture.
    bool refused = false, busyDuringClose = false, stillVisible = false;
    int openedDuringDownload = 0;
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!w->engine().busy() || !w->panelText(2).startsWith(QStringLiteral("完成"))) return;
        watch.stop();
        busyDuringClose = w->engine().busy();
        refused = !w->close();
        stillVisible = w->isVisible();
        QTest::mouseClick(child<QWidget>(*w, "Picture1"), Qt::LeftButton);
        openedDuringDownload = dialogs_.opened.size();
    });
    watch.start();
    child<QPushButton>(*w, "CmdStart")->click();
    QVERIFY(busyDuringClose);
    QVERIFY(refused);
    QVERIFY(stillVisible);
    QCOMPARE(openedDuringDownload, 1);
    QCOMPARE(dialogs_.opened.first(), QUrl(QStringLiteral("http://www.st.com")));
    QCOMPARE(dialogs_.texts(), QStringList{QStringLiteral("请按中止按钮后退出。")});
    QCOMPARE(dialogs_.messages.first().title, QStringLiteral("Praxon"));
    // The download went on to the end.
    QVERIFY(logMessages(*w).last().startsWith(QStringLiteral("编程成功, 用时共")));
    const std::vector<uint8_t> flash = board.sim->flashImage();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(flash.data()), firmware.size()), firmware);
    // Nothing was saved by the refused close.
    QVERIFY(!QFile::exists(praxon::configFilePath()));
    // Idle again: the close goes through and saves.
    QVERIFY(w->close());
    QCOMPARE(praxon::readConfig().fileName, hexPath);
    QCOMPARE(praxon::readConfig().erase, false);
}

void TestMainForm::stopWhileProgramming() {
    praxon::sim::SimulatorOptions options;
    options.board.flashKb = 16;
    Board board = startBoard(options);
    const QString hexPath = work_.filePath(QStringLiteral("stopped.hex"));
    {
        QFile f(hexPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(makeHex(pattern(4096, 3)));
    }
    auto w = makeWindow();
    QVERIFY(connectTo(*w, board.port));
    child<QCheckBox>(*w, "ChkErase")->setChecked(false);
    child<QLineEdit>(*w, "TxtDownloadFile")->setText(hexPath);
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!w->engine().busy() || !w->panelText(2).startsWith(QStringLiteral("完成"))) return;
        watch.stop();
        QTest::mouseClick(child<QWidget>(*w, "CmdStop"), Qt::LeftButton);
    });
    watch.start();
    QElapsedTimer clock;
    clock.start();
    child<QPushButton>(*w, "CmdStart")->click();
    QVERIFY(clock.elapsed() < 30000);
    QVERIFY(!w->engine().busy());
    QCOMPARE(dialogs_.texts(), QStringList{QStringLiteral("下载失败。")});
    QVERIFY(!logMessages(*w).last().startsWith(QStringLiteral("编程成功")));
    QCOMPARE(w->panelText(6), QStringLiteral("未连接"));
    QCOMPARE(w->lamp(), Lamp::Gray);
    QVERIFY(!child<QWidget>(*w, "CmdStart")->isEnabled());
    QVERIFY(w->close());
}

// ---------------------------------------------------------------------------------------------
// Settings through the window

void TestMainForm::settingsSavedAtExitAndRestored_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shownAddress");
    QTest::addColumn<QString>("typedAddress");  // null: leave as shown
    QTest::addColumn<QString>("savedAddress");
    QTest::addColumn<bool>("erase");

    QTest::newRow("first run, nothing changed")
        << QByteArray() << "08000000" << QString() << "08000000" << true;
    QTest::newRow("spaces kept on load, trimmed at exit")
        << QByteArray("[Config]\nADD=\"  20000000 \"\nErase=0\n") << "  20000000 " << QString()
        << "20000000" << false;
    QTest::newRow("cleared address stays empty")
        << QByteArray("[Config]\nADD=08001000\n") << "08001000"
        << ""
        << "" << true;
    QTest::newRow("Check of 2 clears the box")
        << QByteArray("[Config]\nCheck=2\nErase=1\n") << "08000000"
        << "0800 2000"
        << "0800 2000" << true;
}

void TestMainForm::settingsSavedAtExitAndRestored() {
    QFETCH(QByteArray, stored);
    QFETCH(QString, typedAddress);
    QFETCH(bool, erase);
    if (!stored.isEmpty()) writeSettings(stored);
    {
        auto w = makeWindow();
        auto* address = child<QLineEdit>(*w, "GATEXT");
        QTEST(address->text(), "shownAddress");
        QCOMPARE(child<QCheckBox>(*w, "ChkErase")->isChecked(), erase);
        QVERIFY(!child<QCheckBox>(*w, "ChkCheck")->isChecked());
        if (!typedAddress.isNull()) address->setText(typedAddress);
        child<QCheckBox>(*w, "ChkSetreadProtect")->setChecked(true);
        child<QLineEdit>(*w, "TxtDownloadFile")->setText(QStringLiteral("  /tmp/带空格.hex "));
        QVERIFY(w->close());
    }
    QSettings raw(praxon::configFilePath(), QSettings::IniFormat);
    QTEST(raw.value(QStringLiteral("Config/ADD")).toString(), "savedAddress");
    QCOMPARE(raw.value(QStringLiteral("Config/FileName")).toString(),
             QStringLiteral("/tmp/带空格.hex"));
    QCOMPARE(raw.value(QStringLiteral("Config/ReadPortect")).toString(), QStringLiteral("1"));
    QCOMPARE(raw.value(QStringLiteral("Config/Check")).toString(), QStringLiteral("0"));
    // The next start shows what was saved.
    auto next = makeWindow();
    QTEST(child<QLineEdit>(*next, "GATEXT")->text(), "savedAddress");
    QCOMPARE(child<QLineEdit>(*next, "TxtDownloadFile")->text(), QStringLiteral("/tmp/带空格.hex"));
    QVERIFY(child<QCheckBox>(*next, "ChkSetreadProtect")->isChecked());
    QCOMPARE(child<QCheckBox>(*next, "ChkErase")->isChecked(), erase);
}

void TestMainForm::helpAndPictures() {
    auto w = makeWindow();
    child<QPushButton>(*w, "CmdHelp")->click();
    const QString help = QCoreApplication::applicationDirPath() + QStringLiteral("/Praxon.html");
    if (QFile::exists(help)) {
        QCOMPARE(dialogs_.opened.size(), 1);
        QCOMPARE(dialogs_.opened.first(), QUrl::fromLocalFile(help));
    } else {
        QVERIFY(dialogs_.opened.isEmpty());
    }
    dialogs_.opened.clear();
    QTest::mouseClick(child<QWidget>(*w, "Picture2"), Qt::LeftButton);
    QTest::mouseClick(child<QWidget>(*w, "Picture1"), Qt::LeftButton);
    QTest::mouseClick(child<QWidget>(*w, "Picture3"), Qt::LeftButton);  // decoration only
    QCOMPARE(dialogs_.opened, (QList<QUrl>{QUrl(QStringLiteral("http://www.example.com")),
                                           QUrl(QStringLiteral("http://www.st.com"))}));
    QVERIFY(dialogs_.messages.isEmpty());
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
