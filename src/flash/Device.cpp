#include "Device.h"

#include <QStringList>
#include <algorithm>

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

}  // namespace

DeviceInfo::DeviceInfo(const DeviceRow& row)
    : DeviceRow(row),
      family(QString::fromStdString(row.family)),
      line(QString::fromStdString(row.line)) {}

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

uint32_t DeviceInfo::eraseNumber(uint32_t index, uint32_t flashBytes, bool sizeKnown) const {
    const uint32_t bank2 = bank2Address(flashBytes, sizeKnown);
    if (bank2Number == 0 || bank2 == 0) return index;
    const auto bank1 = uint32_t(unitsCovering({flashBase, bank2}, flashBytes).size());
    return index < bank1 ? index : bank2Number + (index - bank1);
}

const std::vector<DeviceInfo>& Devices() {
    static const std::vector<DeviceInfo> devices = [] {
        std::vector<DeviceInfo> converted;
        for (const DeviceRow& row : BuiltInDeviceRows()) converted.emplace_back(row);
        if (converted.empty() || !BuiltInDeviceTableErrors().empty()) {
            QStringList errors;
            for (const std::string& error : BuiltInDeviceTableErrors())
                errors << QString::fromStdString(error);
            qWarning("device table: %s", qPrintable(errors.join(QStringLiteral("; "))));
        }
        return converted;
    }();
    return devices;
}

const DeviceInfo* FindDevice(uint16_t pid) {
    for (const DeviceInfo& device : Devices())
        if (device.pid == pid) return &device;
    return nullptr;
}

}  // namespace praxon
