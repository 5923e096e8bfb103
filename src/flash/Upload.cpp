#include "Upload.h"

#include "BootLink.h"
#include "Format.h"
#include "IntelHex.h"

namespace praxon {
namespace {

bool writeLine(QIODevice& out, const std::string& line) {
    QByteArray bytes = QByteArray::fromStdString(line);
    bytes.append("\r\n", 2);
    return out.write(bytes) == bytes.size();
}

void showProgress(BootLink& link, qint64 done, qint64 total) {
    const QString text = UploadProgressText(done, total);
    link.host().setPanelText(2, text);
    link.host().progress(text);
}

void logReadFailure(BootLink& link) {
    link.ShowMsg(QStringLiteral("读数据失败, 退出从芯片读取数据过程."));
}

}  // namespace

bool IsHexFileName(const QString& fileName) {
    const QString name = fileName.trimmed();
    QString tail = QStringLiteral("hex");
    if (name.size() >= 3) tail = name.right(3);
    return tail.toUpper() == QLatin1String("HEX");
}

bool ReadFlashToBin(BootLink& link, QIODevice& out, uint32_t address, qint64 length) {
    const qint64 blocks = length / 256;
    uint8_t block[256];
    for (qint64 k = 0; k < blocks; ++k) {
        if (!link.ReadMemoryBlock(address + uint32_t(256 * k), block, 256)) {
            logReadFailure(link);
            return false;
        }
        showProgress(link, k + 1, blocks);
        if (out.write(reinterpret_cast<const char*>(block), 256) != 256) return false;
    }
    return true;
}

bool ReadFlashToHex(BootLink& link, QIODevice& out, uint32_t address, qint64 length) {
    const qint64 blocks = length / 64;
    if (!writeLine(out, StartLinearAddressLine())) return false;
    uint8_t block[64];
    for (qint64 k = 0; k < blocks; ++k) {
        const uint32_t a = address + uint32_t(64 * k);
        if (a % 0x10000u == 0 && !writeLine(out, ExtendedLinearAddressLine(a))) return false;
        if (!link.ReadMemoryBlock(a, block, 64)) {
            logReadFailure(link);
            return false;
        }
        showProgress(link, k + 1, blocks);
        if (!writeLine(out, DataRecordLine(a, block, 64))) return false;
    }
    return writeLine(out, EndOfFileLine());
}

}  // namespace praxon
