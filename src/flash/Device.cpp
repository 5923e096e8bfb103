#include "Device.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>

// The table is a resource of this static library: registered by name, or the linker drops it.
static void LoadDeviceResource() {
    Q_INIT_RESOURCE(devices);
}

namespace praxon {
namespace {

// Units of one size in a row, placed for a given chip.
struct Placed {
    uint32_t index;  // number of the first unit
    uint64_t begin;
    uint32_t size;
    uint32_t count;
};

std::vector<Placed> Place(const DeviceInfo& d, uint32_t flashBytes) {
    std::vector<Placed> placed;
    const uint64_t end = uint64_t(d.flashBase) + flashBytes;
    uint64_t at = d.flashBase;
    uint32_t index = 0;
    for (const EraseRun& run : d.units) {
        if (at >= end || run.size == 0) break;
        // Units past the chip's flash are not there.
        const auto fit = uint32_t((end - at + run.size - 1) / run.size);
        const uint32_t count = run.count ? std::min(run.count, fit) : fit;
        placed.push_back({index, at, run.size, count});
        index += count;
        at += uint64_t(count) * run.size;
    }
    return placed;
}

// "32K", "1M", "128B", "1536K".
bool ParseSize(const QString& text, uint32_t* bytes) {
    static const QRegularExpression size(QStringLiteral("^(\\d+)([BKM])$"));
    const QRegularExpressionMatch m = size.match(text);
    if (!m.hasMatch()) return false;
    const uint64_t unit = m.captured(2) == QLatin1String("M")   ? 1024 * 1024
                          : m.captured(2) == QLatin1String("K") ? 1024
                                                                : 1;
    const uint64_t value = m.captured(1).toULongLong() * unit;
    if (value == 0 || value > 0xFFFFFFFFu) return false;
    *bytes = uint32_t(value);
    return true;
}

bool ParseHex(const QString& text, uint32_t* value) {
    if (!text.startsWith(QLatin1String("0x"))) return false;
    bool ok = false;
    *value = text.mid(2).toUInt(&ok, 16);
    return ok;
}

// "0x1FFFF7E0", with ":f1", ":low8" or ":CODE=SIZE,..." after it.
bool ParseSizeRegister(const QString& text, DeviceInfo* d) {
    const QString address = text.section(QLatin1Char(':'), 0, 0);
    const QString coding = text.section(QLatin1Char(':'), 1);
    if (!ParseHex(address, &d->flashSizeRegister)) return false;
    if (coding.isEmpty()) {
        d->sizeCoding = SizeCoding::KiB;
    } else if (coding == QLatin1String("f1")) {
        d->sizeCoding = SizeCoding::F1;
    } else if (coding == QLatin1String("low8")) {
        d->sizeCoding = SizeCoding::KiBLowByte;
    } else {
        d->sizeCoding = SizeCoding::Codes;
        for (const QString& pair : coding.split(QLatin1Char(','))) {
            bool ok = false;
            const uint code = pair.section(QLatin1Char('='), 0, 0).toUInt(&ok);
            uint32_t bytes = 0;
            if (!ok || code > 0xFFFF || !ParseSize(pair.section(QLatin1Char('='), 1), &bytes))
                return false;
            d->sizeCodes.emplace_back(uint16_t(code), bytes);
        }
    }
    return true;
}

// "2K", "2K@max", "16Kx4,64K,128Kx7", "?".
bool ParseUnits(QString text, DeviceInfo* d) {
    if (text == QLatin1String("?")) return true;
    if (text.endsWith(QLatin1String("@max"))) {
        d->unitsAtMaxOnly = true;
        text.chop(4);
    }
    const QStringList runs = text.split(QLatin1Char(','));
    uint64_t total = 0;
    for (const QString& r : runs) {
        EraseRun run;
        // One size alone runs to the end of the flash; in a list it is one unit.
        run.count = runs.size() == 1 ? 0 : 1;
        if (r.contains(QLatin1Char('x'))) {
            bool ok = false;
            run.count = r.section(QLatin1Char('x'), 1).toUInt(&ok);
            if (!ok || run.count == 0) return false;
        }
        if (!ParseSize(r.section(QLatin1Char('x'), 0, 0), &run.size)) return false;
        total += uint64_t(run.size) * (run.count ? run.count : d->maxFlashBytes / run.size);
        d->units.push_back(run);
    }
    // The units make up the line's largest flash exactly.
    return total == d->maxFlashBytes;
}

bool ParseRam(const QString& text, DeviceInfo* d) {
    if (text == QLatin1String("-")) return true;
    for (const QString& range : text.split(QLatin1Char(','))) {
        uint32_t first = 0, last = 0;
        if (!ParseHex(range.section(QLatin1Char('-'), 0, 0), &first) ||
            !ParseHex(range.section(QLatin1Char('-'), 1), &last) || last < first)
            return false;
        d->ram.push_back({first, uint64_t(last) + 1});
    }
    return true;
}

// "3.1" -> 0x31.
bool ParseProtocol(const QString& text, uint8_t* version) {
    static const QRegularExpression form(QStringLiteral("^([0-9A-F])\\.([0-9A-F])$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return false;
    *version = uint8_t(m.captured(1).toUInt(nullptr, 16) << 4 | m.captured(2).toUInt(nullptr, 16));
    return true;
}

// One row; empty when it parsed.
QString ParseRow(const QStringList& cells, DeviceInfo* d) {
    if (cells.size() != 16) return QStringLiteral("16 columns expected");
    uint32_t value = 0;
    if (!ParseHex(cells[0], &value) || value > 0xFFFF) return QStringLiteral("pid");
    d->pid = uint16_t(value);
    d->family = cells[1];
    d->line = cells[2];
    if (!ParseSize(cells[3], &d->maxFlashBytes)) return QStringLiteral("flash");
    if (!ParseSizeRegister(cells[4], d)) return QStringLiteral("size");
    if (!ParseUnits(cells[5], d)) return QStringLiteral("units");
    if (cells[6] == QLatin1String("half"))
        d->bank2AtHalf = true;
    else if (cells[6] != QLatin1String("-") && !ParseHex(cells[6], &d->bank2))
        return QStringLiteral("bank2");
    d->writeAlign = cells[7].toInt();
    if (d->writeAlign < 4 || d->writeAlign > 256 || (d->writeAlign & (d->writeAlign - 1)))
        return QStringLiteral("align");
    bool ok = false;
    const uint erased = cells[8].toUInt(&ok, 16);
    if (!ok || (erased != 0x00 && erased != 0xFF)) return QStringLiteral("erased");
    d->erasedValue = uint8_t(erased);
    if (!ParseRam(cells[9], d)) return QStringLiteral("ram");
    if (!ParseHex(cells[10], &d->systemMemory)) return QStringLiteral("sysmem");
    if (cells[11] != QLatin1String("-") && !ParseHex(cells[11], &d->optionBytes))
        return QStringLiteral("options");
    if (cells[12] != QLatin1String("yes") && cells[12] != QLatin1String("no"))
        return QStringLiteral("mass");
    d->massErase = cells[12] == QLatin1String("yes");
    if (!ParseProtocol(cells[13], &d->protocol)) return QStringLiteral("proto");
    d->unitEraseMs = cells[14].toInt(&ok);
    if (!ok || d->unitEraseMs <= 0) return QStringLiteral("unit_ms");
    d->massEraseMs = cells[15].toInt(&ok);
    if (!ok || d->massEraseMs <= 0) return QStringLiteral("mass_ms");
    return {};
}

}  // namespace

bool DeviceInfo::unitsKnown(uint32_t flashBytes, bool sizeKnown) const {
    return !units.empty() && (!unitsAtMaxOnly || (sizeKnown && flashBytes == maxFlashBytes));
}

AddressRange DeviceInfo::unit(uint32_t index, uint32_t flashBytes) const {
    for (const Placed& p : Place(*this, flashBytes))
        if (index >= p.index && index - p.index < p.count) {
            const uint64_t begin = p.begin + uint64_t(index - p.index) * p.size;
            return {uint32_t(begin), begin + p.size};
        }
    return {};
}

std::vector<uint32_t> DeviceInfo::unitsCovering(const AddressRange& range,
                                                uint32_t flashBytes) const {
    std::vector<uint32_t> out;
    for (const Placed& p : Place(*this, flashBytes))
        for (uint32_t i : PagesCovering(range, uint32_t(p.begin), p.size, p.count))
            out.push_back(p.index + i);
    return out;
}

std::vector<uint32_t> DeviceInfo::unitsTouched(const FirmwareImage& image,
                                               uint32_t flashBytes) const {
    std::vector<uint32_t> out;
    for (const Placed& p : Place(*this, flashBytes))
        for (uint32_t i : PagesTouched(image, uint32_t(p.begin), p.size, p.count))
            out.push_back(p.index + i);
    return out;
}

qint64 DeviceInfo::unitEraseNs(uint32_t index, uint32_t flashBytes) const {
    uint32_t smallest = UINT32_MAX;
    for (const EraseRun& run : units) smallest = std::min(smallest, run.size);
    const uint64_t size = unit(index, flashBytes).end - unit(index, flashBytes).begin;
    return qint64(unitEraseMs) * 1'000'000 * qint64(std::max<uint64_t>(1, size / smallest));
}

uint32_t DeviceInfo::bank2Address(uint32_t flashBytes, bool sizeKnown) const {
    if (bank2AtHalf) return sizeKnown ? flashBase + flashBytes / 2 : 0;
    return bank2 > flashBase && bank2 - flashBase < flashBytes ? bank2 : 0;
}

std::vector<DeviceInfo> ParseDeviceTable(const QByteArray& text, QStringList* errors) {
    static const QRegularExpression tabs(QStringLiteral("\\t+"));
    std::vector<DeviceInfo> devices;
    int number = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        DeviceInfo d;
        const QString fault = ParseRow(line.split(tabs), &d);
        const bool twice = std::any_of(devices.begin(), devices.end(),
                                       [&](const DeviceInfo& o) { return o.pid == d.pid; });
        if (fault.isEmpty() && !twice)
            devices.push_back(std::move(d));
        else if (errors)
            *errors << QStringLiteral("line %1: %2")
                           .arg(number)
                           .arg(fault.isEmpty() ? QStringLiteral("pid twice") : fault);
    }
    return devices;
}

const std::vector<DeviceInfo>& Devices() {
    static const std::vector<DeviceInfo> devices = [] {
        LoadDeviceResource();
        QFile file(QStringLiteral(":/praxon/devices.tsv"));
        QStringList errors;
        std::vector<DeviceInfo> parsed;
        if (file.open(QIODevice::ReadOnly)) parsed = ParseDeviceTable(file.readAll(), &errors);
        if (parsed.empty() || !errors.isEmpty())
            qWarning("device table: %s", qPrintable(errors.join(QStringLiteral("; "))));
        return parsed;
    }();
    return devices;
}

const DeviceInfo* FindDevice(uint16_t pid) {
    for (const DeviceInfo& device : Devices())
        if (device.pid == pid) return &device;
    return nullptr;
}

}  // namespace praxon
