#include "FakePort.h"

#include <QTimer>

bool FakePort::open(const QString& name, QString* /*error*/) {
    openedNames << name;
    opened_ = !refuseOpen;
    return opened_;
}

bool FakePort::write(const QByteArray& frame) {
    if (!opened_ || refuseWrites) return false;
    written << frame;
    if (responder) responder(frame);
    return true;
}

QByteArray FakePort::readAll() {
    QByteArray out;
    out.swap(pending_);
    return out;
}

void FakePort::deliver(const QByteArray& bytes) {
    if (!opened_) return;
    pending_ += bytes;
    emit dataReceived();
}

void FakePort::deliverLater(const QByteArray& bytes, int ms) {
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, bytes] { deliver(bytes); });
}
