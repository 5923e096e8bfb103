#include "Download.h"

#include <QFile>

#include "BootLink.h"
#include "Format.h"
#include "WordAligner.h"
#include "WriteMemory.h"

namespace praxon {

bool ReadHexFileLine(QIODevice& file, std::string& line, bool* overlong) {
    line.clear();
    if (overlong) *overlong = false;
    if (file.atEnd()) return false;
    char c;
    while (file.getChar(&c)) {
        if (c == '\n') return true;
        if (c == '\r') {
            char next;
            if (file.peek(&next, 1) == 1 && next == '\n') file.getChar(&next);
            return true;
        }
        if (line.size() == kMaxHexLineLength) {
            if (overlong) *overlong = true;
            return true;
        }
        line.push_back(c);
    }
    return true;
}

QString CannotOpenFileText(const QString& path) {
    return QStringLiteral("无法打开文件: ") + path;
}

bool ReadAndDownload(BootLink& link, const QString& strFileName, HexRecord& record,
                     const std::function<bool()>& verify) {
    Host& host = link.host();
    QFile file(strFileName);
    const qint64 fileSize = file.size();
    if (!file.open(QIODevice::ReadOnly)) {
        host.showMessage(CannotOpenFileText(strFileName));
        return false;
    }
    record.Segment = 0;
    record.Linear = 0;
    // Records that end inside a word leave their last bytes pending, to be written together
    // with the record that continues the word (see WordAligner).
    WordAligner aligner;
    const auto write = [&](const std::vector<AlignedBlock>& blocks) {
        for (const AlignedBlock& block : blocks)
            if (!DownLoad2STM32(link, block, verify)) return false;
        return true;
    };
    qint64 charactersRead = 0;
    std::string line;
    bool overlong = false;
    bool firstLine = true;
    while (ReadHexFileLine(file, line, &overlong)) {
        // Some Windows editors save text with a UTF-8 byte order mark in front of it.
        if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        firstLine = false;
        charactersRead += qint64(line.size());
        std::string message;
        if (!ParseHexLine(line, record, &message) || overlong) {
            // The records before the rejected line stay written, their last bytes included.
            write(aligner.flush());
            if (!message.empty()) host.showMessage(QString::fromStdString(message));
            host.showMessage(QStringLiteral("HEX数据有误，下载失败！") +
                             QString::fromStdString(line));
            return false;
        }
        if (record.RecType == 0x00) {
            // A data record without data has nothing to write (Write Memory needs 1 byte at least).
            if (record.DataLen > 0 &&
                !write(aligner.add(uint32_t(record.Address), record.Data.data(), record.DataLen)))
                return false;
            const QString progress = DownloadProgressText(charactersRead, fileSize);
            host.setPanelText(2, progress);
            host.progress(progress);
        } else if (record.RecType == 0x01) {
            if (!write(aligner.flush())) return false;
            host.setPanelText(2, QStringLiteral("下载结束."));
            return true;
        }
        if (link.StopFlag) return false;
    }
    // No end-of-file record: still a failure, but every data record is written.
    write(aligner.flush());
    return false;
}

}  // namespace praxon
