#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>

#include "SerialPort.h"

// A serial port without a device: records the frames written and delivers replies now or later
// through the event loop, like a real line.
class FakePort : public praxon::SerialPort {
    Q_OBJECT
public:
    using SerialPort::SerialPort;

    bool open(const QString& name, QString* error) override;
    void close() override { opened_ = false; }
    bool isOpen() const override { return opened_; }
    bool write(const QByteArray& frame) override;
    QByteArray readAll() override;

    // Bytes arrive now (dataReceived is emitted at once) or after ms through the event loop.
    void deliver(const QByteArray& bytes);
    void deliverLater(const QByteArray& bytes, int ms);

    std::function<void(const QByteArray& frame)> responder;  // called for every frame written
    QList<QByteArray> written;                               // every frame, in order
    QStringList openedNames;                                 // every name open() was given
    bool refuseOpen = false;
    bool refuseWrites = false;

private:
    bool opened_ = false;
    QByteArray pending_;
};

// "08 00 00 00 08" or "0800000008" -> bytes.
inline QByteArray bytesFromHex(const char* text) {
    return QByteArray::fromHex(text);
}
