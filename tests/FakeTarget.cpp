#include "FakeTarget.h"

#include "FakePort.h"

namespace {
const char ACK = char(0x79);
const char NACK = char(0x1F);

uint8_t xorOf(const QByteArray& bytes, int count) {
    uint8_t x = 0;
    for (int i = 0; i < count; ++i) x ^= uint8_t(bytes[i]);
    return x;
}
}  // namespace

FakeTarget::FakeTarget(FakePort& port) : port_(port) {
    resize(flashKB);
    port_.responder = [this](const QByteArray& frame) { onFrame(frame); };
}

void FakeTarget::resize(uint16_t kb) {
    flashKB = kb;
    flash.assign(size_t(kb) * 1024, 0xFF);
}

uint8_t FakeTarget::byteAt(uint32_t a) const {
    if (a >= kFlashBase && a - kFlashBase < flash.size()) return flash[a - kFlashBase];
    switch (a) {
        case 0x1FFFF7E0:
            return uint8_t(flashKB);
        case 0x1FFFF7E1:
            return uint8_t(flashKB >> 8);
        case 0x1FFFF7E2:
            return uint8_t(ramKB);
        case 0x1FFFF7E3:
            return uint8_t(ramKB >> 8);
        default:
            return 0;
    }
}

void FakeTarget::onFrame(const QByteArray& frame) {
    const int n = frames++;
    QByteArray out = answer(frame);
    if (overrides.contains(n)) out = overrides.value(n);
    if (silentFrom >= 0 && n >= silentFrom) out.clear();
    if (!out.isEmpty()) port_.deliverLater(out, delayMs);
}

QByteArray FakeTarget::answer(const QByteArray& f) {
    // A lone 0x7F stands for "board reset into the bootloader, then synchronised".
    if (f == QByteArray(1, char(0x7F))) state_ = State::Sync;
    switch (state_) {
        case State::Sync:
            if (f == QByteArray(1, char(0x7F))) {
                state_ = State::Command;
                return QByteArray(1, ACK);
            }
            return {};
        case State::Command: {
            if (f.size() != 2 || uint8_t(f[0] ^ f[1]) != 0xFF) return QByteArray(1, NACK);
            switch (uint8_t(f[0])) {
                case 0x7F:
                    return QByteArray(1, ACK);
                case 0x02:
                    return getIdReply;
                case 0x11:
                    state_ = State::ReadAddress;
                    return QByteArray(1, ACK);
                case 0x31:
                    state_ = State::WriteAddress;
                    return QByteArray(1, ACK);
                case 0x43:
                    state_ = State::EraseCode;
                    return QByteArray(1, ACK);
                case 0x21:
                    state_ = State::GoAddress;
                    return QByteArray(1, ACK);
                case 0x82:
                    protectSet = true;
                    state_ = State::Sync;
                    return QByteArray(1, ACK);
                case 0x92:
                    unprotectSet = true;
                    state_ = State::Sync;
                    return QByteArray(1, ACK);
                default:
                    return QByteArray(1, NACK);
            }
        }
        case State::ReadAddress:
        case State::WriteAddress:
        case State::GoAddress: {
            const State was = state_;
            state_ = State::Command;
            if (f.size() != 5 || xorOf(f, 4) != uint8_t(f[4])) return QByteArray(1, NACK);
            address_ = uint32_t(uint8_t(f[0])) << 24 | uint32_t(uint8_t(f[1])) << 16 |
                       uint32_t(uint8_t(f[2])) << 8 | uint8_t(f[3]);
            if (was == State::ReadAddress) state_ = State::ReadCount;
            if (was == State::WriteAddress) state_ = State::WriteData;
            if (was == State::GoAddress) {
                goAddress = address_;
                state_ = State::Sync;
            }
            return QByteArray(1, ACK);
        }
        case State::ReadCount: {
            state_ = State::Command;
            if (f.size() != 2 || uint8_t(f[0] ^ f[1]) != 0xFF) return QByteArray(1, NACK);
            const int count = uint8_t(f[0]) + 1;
            reads << qMakePair(address_, count);
            QByteArray out(1, ACK);
            for (int i = 0; i < count; ++i) out.append(char(byteAt(address_ + uint32_t(i))));
            return out;
        }
        case State::WriteData: {
            state_ = State::Command;
            const int count = f.isEmpty() ? 0 : uint8_t(f[0]) + 1;
            if (f.size() != count + 2 || xorOf(f, count + 1) != uint8_t(f[count + 1]))
                return QByteArray(1, NACK);
            if (refuseUnaligned && (address_ % 4 != 0 || count % 4 != 0))
                return QByteArray(1, NACK);
            for (int i = 0; i < count; ++i) {
                const uint32_t a = address_ + uint32_t(i);
                // Flash bits only go from 1 to 0 without an erase.
                if (a >= kFlashBase && a - kFlashBase < flash.size())
                    flash[a - kFlashBase] &= uint8_t(f[1 + i]);
            }
            writes << qMakePair(address_, count);
            return QByteArray(1, ACK);
        }
        case State::EraseCode:
            state_ = State::Command;
            if (f == QByteArray::fromHex("FF00")) {
                std::fill(flash.begin(), flash.end(), 0xFF);
                erased = true;
                return QByteArray(1, ACK);
            }
            return QByteArray(1, NACK);
    }
    return {};
}
