#pragma once

#include <QStringList>
#include <QTimer>
#include <functional>
#include <utility>

#include "SerialPort.h"

// A serial port without a device: records the frames written and delivers replies now or later
// through the event loop, like a real line.
class FakePort : public praxon::SerialPort {
public:
    using SerialPort::SerialPort;
    bool open(const QString& name, int baudRate, praxon::PortOpenFailure*) override {
        openedNames << name;
        this->baudRate = baudRate;
        evenParity = true;
        return opened_ = true;
    }
    void close() override { opened_ = false; }
    bool isOpen() const override { return opened_; }
    bool write(const QByteArray& frame) override {
        if (!opened_) return false;
        written << frame;
        if (responder) responder(frame);
        return true;
    }
    QByteArray readAll() override { return std::exchange(pending_, QByteArray()); }
    bool setDataTerminalReady(bool on) override { return line("dtr", on); }
    bool setRequestToSend(bool on) override { return line("rts", on); }
    bool setBreak(bool on) override { return line("brk", on); }
    bool setEvenParity(bool even) override {
        if (!opened_) return false;
        evenParity = even;
        return true;
    }
    // Bytes arrive now (dataReceived at once) or after ms through the event loop.
    void deliver(const QByteArray& bytes) {
        if (!opened_) return;
        pending_ += bytes;
        emit dataReceived();
    }
    void deliverLater(const QByteArray& bytes, int ms) {
        QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, bytes] { deliver(bytes); });
    }

    std::function<void(const QByteArray& frame)> responder;  // called for every frame written
    QList<QByteArray> written;                               // every frame, in order
    QStringList openedNames;                                 // every name open() was given
    QStringList lines;  // every line change, in order with the frames: "dtr=1", "rts=0", ...
    bool refuseLines = false;
    int baudRate = 0;
    bool evenParity = true;

private:
    bool line(const char* name, bool on) {
        if (!opened_ || refuseLines) return false;
        lines << QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(int(on));
        return true;
    }
    bool opened_ = false;
    QByteArray pending_;
};

// Answers every frame written to port with what board (a sim::Board) sends back; tamper, when
// given, changes each frame before the board sees it.
template <class Board>
void AnswerFrom(FakePort& port, Board& board,
                std::function<QByteArray(const QByteArray&)>* tamper = nullptr) {
    port.responder = [&port, &board, tamper](const QByteArray& frame) {
        QByteArray out;
        for (char c : tamper&&* tamper ? (*tamper)(frame) : frame)
            for (const auto& e : board.feed(uint8_t(c), 0))
                out.append(reinterpret_cast<const char*>(e.bytes.data()), int(e.bytes.size()));
        if (!out.isEmpty()) port.deliverLater(out, 0);
    };
}

// "0800000008" -> bytes.
inline QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
