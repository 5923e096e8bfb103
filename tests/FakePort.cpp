#include "FakePort.h"

#include <QTimer>

bool FakePort::open(const QString& name, QString* error) {
    openedNames << name;
    if (refuseOpen) {
        if (error) *error = QStringLiteral("refused");
        return false;
    }
    opened_ = true;
    return true;
}

void FakePort::close() {
    if (opened_) ++closes;
    opened_ = false;
    pending_.clear();
    ++generation_;
}

bool FakePort::write(const QByteArray& frame) {
    if (!opened_ || refuseWrites) return false;
    written << frame;
    if (responder) {
        responder(frame);
    } else if (!script_.isEmpty()) {
        schedule(script_.takeFirst());
    }
    return true;
}

QByteArray FakePort::readAll() {
    QByteArray out;
    out.swap(pending_);
    return out;
}

void FakePort::reply(const QByteArray& bytes, int delayMs) {
    replyChunks({bytes}, delayMs);
}

void FakePort::replyChunks(const QList<QByteArray>& chunks, int delayMs, int gapMs) {
    script_ << Reply{chunks, delayMs, gapMs};
}

void FakePort::silent() {
    script_ << Reply{};
}

void FakePort::schedule(const Reply& r) {
    for (int i = 0; i < r.chunks.size(); ++i) deliverLater(r.chunks[i], r.delayMs + i * r.gapMs);
}

void FakePort::deliver(const QByteArray& bytes) {
    if (!opened_) return;
    pending_ += bytes;
    emit dataReceived();
}

void FakePort::deliverLater(const QByteArray& bytes, int ms) {
    const quint64 gen = generation_;
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, bytes, gen] {
        if (gen == generation_) deliver(bytes);
    });
}

void FakePort::loseLine() {
    close();
    emit lineLost();
}

void FakePort::loseLineLater(int ms) {
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this] { loseLine(); });
}

QString hexBytes(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QByteArray bytesFromHex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}
