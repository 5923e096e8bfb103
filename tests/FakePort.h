#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>

#include "SerialPort.h"

// A serial port without a device: records the frames written and delivers programmed replies
// later through the event loop, like a real line.
class FakePort : public praxon::SerialPort {
    Q_OBJECT
public:
    struct Reply {
        QList<QByteArray> chunks;  // empty: no answer at all
        int delayMs = 1;           // until the first chunk
        int gapMs = 0;             // between chunks
    };

    using SerialPort::SerialPort;

    bool open(const QString& name, QString* error) override;
    void close() override;
    bool isOpen() const override { return opened_; }
    bool write(const QByteArray& frame) override;
    QByteArray readAll() override;

    // Scripted replies, one per frame written, in order (used when no responder is set).
    void reply(const QByteArray& bytes, int delayMs = 1);
    void replyChunks(const QList<QByteArray>& chunks, int delayMs = 1, int gapMs = 0);
    void silent();
    // Replaces the script: called for every frame written.
    std::function<void(const QByteArray& frame)> responder;

    // Bytes arrive now (dataReceived is emitted at once) or after ms through the event loop.
    void deliver(const QByteArray& bytes);
    void deliverLater(const QByteArray& bytes, int ms);
    // The device goes away: the port closes and lineLost is emitted.
    void loseLine();
    void loseLineLater(int ms);

    QList<QByteArray> written;  // every frame, in order
    QStringList openedNames;    // every name open() was called with
    int closes = 0;
    bool refuseOpen = false;
    bool refuseWrites = false;

private:
    void schedule(const Reply& r);

    bool opened_ = false;
    QByteArray pending_;
    QList<Reply> script_;
    quint64 generation_ = 0;  // bumps on close so late deliveries of a dead line are dropped
};

// Hex text of bytes, "08 00 00 00 08", for readable comparisons.
QString hexBytes(const QByteArray& bytes);
QByteArray bytesFromHex(const char* text);
