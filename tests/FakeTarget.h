#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <cstdint>
#include <vector>

class FakePort;

// A small STM32 bootloader behind a FakePort: Get ID, Read/Write Memory, global erase, Go and
// readout (un)protect, one whole frame per write. Replies can be overridden per frame to script
// failures.
class FakeTarget {
public:
    explicit FakeTarget(FakePort& port);

    static constexpr uint32_t kFlashBase = 0x08000000;
    std::vector<uint8_t> flash;  // starts erased
    uint16_t flashKB = 64;
    uint16_t ramKB = 20;
    QByteArray getIdReply = QByteArray::fromHex(
        "79010410"
        "79");
    int delayMs = 0;
    bool refuseUnaligned = true;  // NACK a Write Memory that is not 4-aligned, as the chip does

    // Frame number (0 = first frame written since construction) -> reply to send instead;
    // an empty reply means silence.
    QMap<int, QByteArray> overrides;
    // Frame number from which nothing is answered any more (-1: never).
    int silentFrom = -1;

    int frames = 0;
    QList<QPair<uint32_t, int>> writes;  // Write Memory blocks (address, length) accepted
    QList<QPair<uint32_t, int>> reads;   // Read Memory requests
    bool erased = false;
    uint32_t goAddress = 0;
    bool protectSet = false;
    bool unprotectSet = false;

    void resize(uint16_t kb);

private:
    enum class State {
        Sync,
        Command,
        ReadAddress,
        ReadCount,
        WriteAddress,
        WriteData,
        EraseCode,
        GoAddress
    };
    void onFrame(const QByteArray& frame);
    QByteArray answer(const QByteArray& frame);
    uint8_t byteAt(uint32_t address) const;

    FakePort& port_;
    State state_ = State::Sync;
    uint32_t address_ = 0;
};
