#include "Engine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "BootLink.h"
#include "Download.h"
#include "Erase.h"
#include "Format.h"
#include "Go.h"
#include "HexText.h"
#include "IntelHex.h"
#include "Protection.h"
#include "Upload.h"

namespace praxon {

struct Engine::Private {
    Private(Engine& e, Host& h, SerialPort& p) : engine(e), host(h), link(h, p) {}

    Engine& engine;
    Host& host;
    BootLink link;
    HexRecord record;
    QString UploadFileName;
    bool busy = false;

    // Marks one user operation as running; a second one is refused until it ends.
    class Operation {
    public:
        explicit Operation(Private& d) : d_(d), started_(!d.busy) {
            if (!started_) return;
            d_.busy = true;
            emit d_.engine.busyChanged(true);
        }
        ~Operation() {
            if (!started_) return;
            d_.busy = false;
            emit d_.engine.busyChanged(false);
        }
        bool refused() const { return !started_; }

    private:
        Private& d_;
        bool started_;
    };

    bool readProtect();
    bool start();
    bool read();
};

Engine::Engine(Host& host, SerialPort& port, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(*this, host, port)) {}

Engine::~Engine() = default;

void Engine::initialise() {
    d->link.StopFlag = true;
    d->host.setLamp(Lamp::Gray);
    d->link.EnableCmds(false);
}

bool Engine::busy() const {
    return d->busy;
}
int Engine::flashSizeKB() const {
    return d->link.FlashSizeKB;
}
BootLink& Engine::link() {
    return d->link;
}
QString Engine::uploadFileName() const {
    return d->UploadFileName;
}

bool Engine::CHECKCMD_Click() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    return d->link.CHECKCMD_Click();
}

bool Engine::CmdDownLoad_Click() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    const QString name = d->host.askOpenHexFile();
    if (name.isEmpty()) return false;
    d->host.setDownloadFileText(name);
    return true;
}

void Engine::CombComPort_LostFocus() {
    // Reopening the port under a running operation would cut it off.
    if (d->busy) return;
    d->link.OpenCommPort();
}

void Engine::CmdStop_Click() {
    d->link.CmdStop_Click();
}

// ---------------------------------------------------------------------------------------------
// Program

bool Engine::CmdStart_Click() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    return d->start();
}

bool Engine::Private::start() {
    const QString text = host.downloadFileText();
    if (text.trimmed().isEmpty()) {
        host.showMessage(QStringLiteral("请指定下载文件。"));
        return false;
    }
    if (!QFileInfo::exists(text)) {
        host.showMessage(QStringLiteral("指定的文件不存在，请重新打开。"));
        return false;
    }
    const QString path = text.trimmed();
    {
        // A file that is there but cannot be read is refused before anything is sent.
        QFile probe(path);
        if (QFileInfo(path).isDir() || !probe.open(QIODevice::ReadOnly)) {
            host.showMessage(CannotOpenFileText(path));
            return false;
        }
    }
    if (host.eraseChecked()) {
        link.StopFlag = false;
        if (!MassErase(link)) {
            link.StopFlag = true;
            return false;
        }
    }
    link.StopFlag = false;
    link.ShowMsg(QStringLiteral("开始编程......"));
    QElapsedTimer clock;
    clock.start();
    const bool ok = ReadAndDownload(link, path, record, [this] { return host.verifyChecked(); });
    if (!ok) {
        link.StopFlag = true;
        host.showMessage(QStringLiteral("下载失败。"));
        return false;
    }
    link.ShowMsg(QStringLiteral("编程成功, 用时共") + SecondsText(clock.nsecsElapsed()) +
                 QStringLiteral("秒。"));
    bool result = true;
    // Part of the same operation, so it does not pass the busy guard again.
    if (host.protectChecked()) result = readProtect();
    link.StopFlag = true;
    return result;
}

// ---------------------------------------------------------------------------------------------
// Read

bool Engine::CmdRead_Click() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    return d->read();
}

bool Engine::Private::read() {
    if (link.FlashSizeKB < 1) {
        // The flash size is unknown (the window keeps the button disabled then).
        link.ShowMsg(QStringLiteral("取器件存储器容量失败."));
        return false;
    }
    link.StopFlag = false;
    const QString name = host.askSaveFile();
    if (name.trimmed().isEmpty()) {
        link.StopFlag = true;
        return false;
    }
    UploadFileName = name;
    // The new file is written beside the old one and replaces it only when complete.
    QSaveFile file(UploadFileName);
    if (QFileInfo(UploadFileName).isDir() || !file.open(QIODevice::WriteOnly)) {
        link.StopFlag = true;
        host.showMessage(UploadFileName + QStringLiteral("文件正打开着, 覆盖失败."));
        return false;
    }
    const bool hex = IsHexFileName(UploadFileName);
    link.ShowMsg(QStringLiteral("开始读取数据......"));
    QElapsedTimer clock;
    clock.start();
    const qint64 length = qint64(link.FlashSizeKB) * 1024;
    bool ok = hex ? ReadFlashToHex(link, file, 0x08000000u, length)
                  : ReadFlashToBin(link, file, 0x08000000u, length);
    if (!ok) {
        // A failed read has been logged already; a failed write of the file (disk full) not yet.
        if (file.error() != QFileDevice::NoError)
            host.showMessage(UploadFileName + QStringLiteral("文件正打开着, 覆盖失败."));
        file.cancelWriting();
    } else if (!file.commit()) {
        host.showMessage(UploadFileName + QStringLiteral("文件正打开着, 覆盖失败."));
        ok = false;
    } else {
        link.ShowMsg(QStringLiteral("读取完成, 读取时间为:") + SecondsText(clock.nsecsElapsed()) +
                     QStringLiteral("秒."));
        host.setPanelText(2, QStringLiteral("已读完."));
    }
    link.StopFlag = true;
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Erase, Go, protection

bool Engine::Command_ER_Click() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    d->link.StopFlag = false;
    const bool ok = MassErase(d->link);
    d->link.StopFlag = true;
    return ok;
}

bool Engine::Command_GO_Click() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    uint32_t address = 0;
    if (!ParseGoAddress(d->host.goAddressText().toStdString(), &address)) {
        // Nothing was sent, so the link stays as it was.
        d->host.showMessage(QStringLiteral("运行地址无效，请输入十六进制地址。"));
        return false;
    }
    BootLink& link = d->link;
    link.StopFlag = false;
    const bool ok = Go(link, address);
    link.ShowMsg(ok ? QStringLiteral("已运行。") : QStringLiteral("目标板无响应。"));
    link.EnableCmds(false);
    link.StopFlag = true;
    return ok;
}

bool Engine::CmdReadProtect_Click() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    return d->readProtect();
}

bool Engine::Private::readProtect() {
    link.StopFlag = false;
    const bool ok = SendReadProtect(link);
    if (ok) {
        link.ShowMsg(QStringLiteral("置读保护成功, 复位目标板后才能有效。"));
        link.EnableCmds(false);
    } else {
        link.ShowMsg(QStringLiteral("置读保护失败。"));
    }
    link.StopFlag = true;
    return ok;
}

bool Engine::CmdReadUnProtect_Click() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    BootLink& link = d->link;
    link.StopFlag = false;
    const bool ok = SendReadUnprotect(link);
    link.ShowMsg(ok ? QStringLiteral("清读保护成功, 复位目标板后才能有效。")
                    : QStringLiteral("清读保护失败."));
    link.EnableCmds(false);
    link.StopFlag = true;
    return ok;
}

}  // namespace praxon
