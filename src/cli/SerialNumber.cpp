#include "SerialNumber.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSysInfo>
#include <QThread>
#include <algorithm>

#ifndef Q_OS_WIN
#include <signal.h>
#include <cerrno>
#endif

namespace praxon::cli {

namespace {

// How long a run waits for another one to finish with the state file.
constexpr int kLockWaitMs = 10000;

// The boards of one process take turns here; the lock file then only keeps other processes
// out (it polls, which among threads of one process would let one of them starve).
std::mutex processLock;

bool processAlive(qint64 pid) {
#ifdef Q_OS_WIN
    Q_UNUSED(pid);
    return true;
#else
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
#endif
}

// A pending entry's process, when it ran on this host; none for another host's.
std::optional<qint64> localPid(const QString& owner) {
    const qsizetype colon = owner.lastIndexOf(':');
    if (colon < 0 || owner.left(colon) != QSysInfo::machineHostName()) return std::nullopt;
    bool ok = false;
    const qint64 pid = owner.mid(colon + 1).toLongLong(&ok);
    return ok ? std::optional<qint64>(pid) : std::nullopt;
}

// Folds the used numbers that follow next into it.
void settle(SerialStateFile::State& state) {
    while (!state.used.empty() && *state.used.begin() <= state.next) {
        if (*state.used.begin() == state.next) ++state.next;
        state.used.erase(state.used.begin());
    }
}

}  // namespace

std::optional<SerialFormat> ParseSerialFormat(const QString& text) {
    const QString name = text.trimmed().toLower();
    if (name == "u32le") return SerialFormat{SerialFormat::U32LE, 4};
    if (name == "u32be") return SerialFormat{SerialFormat::U32BE, 4};
    if (name == "u64le") return SerialFormat{SerialFormat::U64LE, 8};
    static const QRegularExpression digits("^(dec|hex):([0-9]{1,2})$");
    const QRegularExpressionMatch m = digits.match(name);
    if (!m.hasMatch()) return std::nullopt;
    const bool hex = m.captured(1) == "hex";
    const int width = m.captured(2).toInt();
    // The most digits a 64-bit number can need.
    if (width < 1 || width > (hex ? 16 : 20)) return std::nullopt;
    return SerialFormat{hex ? SerialFormat::Hex : SerialFormat::Decimal, width};
}

std::optional<QByteArray> EncodeSerial(uint64_t number, const SerialFormat& format) {
    QByteArray bytes;
    switch (format.kind) {
        case SerialFormat::U32LE:
        case SerialFormat::U32BE:
        case SerialFormat::U64LE: {
            if (format.kind != SerialFormat::U64LE && number > 0xFFFFFFFFull) return std::nullopt;
            for (int i = 0; i < format.width; ++i) bytes.append(char(number >> (8 * i)));
            if (format.kind == SerialFormat::U32BE) std::reverse(bytes.begin(), bytes.end());
            return bytes;
        }
        case SerialFormat::Decimal:
        case SerialFormat::Hex: {
            const int base = format.kind == SerialFormat::Hex ? 16 : 10;
            const QByteArray digits = QByteArray::number(qulonglong(number), base).toUpper();
            if (digits.size() > format.width) return std::nullopt;
            return QByteArray(format.width - digits.size(), '0') + digits;
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> SerialOverlap(const FirmwareImage& image, uint32_t address, int size) {
    const uint64_t end = uint64_t(address) + uint64_t(size);
    for (const ImageSegment& segment : image.segments()) {
        if (segment.address >= end) break;
        if (segment.end() > address) return std::max(segment.address, address);
    }
    return std::nullopt;
}

std::optional<uint64_t> ParseSerialNumber(const QString& text) {
    static const QRegularExpression form("^(?:0[xX]([0-9a-fA-F]{1,16})|([0-9]{1,20}))$");
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch()) return std::nullopt;
    bool ok = false;
    const bool hex = m.capturedLength(1) > 0;
    const uint64_t value = m.captured(hex ? 1 : 2).toULongLong(&ok, hex ? 16 : 10);
    return ok ? std::optional<uint64_t>(value) : std::nullopt;
}

bool LockWithin(QLockFile& lock, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    // Short steps: QLockFile's own wait doubles its pauses up to seconds.
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError || clock.elapsed() > milliseconds)
            return false;
        QThread::msleep(10);
    }
    return true;
}

QString SerialOwner() {
    return QSysInfo::machineHostName() + ':' + QString::number(QCoreApplication::applicationPid());
}

SerialStateFile::SerialStateFile(const QString& path, std::optional<uint64_t> start)
    : path_(path), start_(start) {}

Event SerialStateFile::event(EventCode code) const {
    return Event(code, Operation::Program).withText(path_);
}

std::optional<SerialStateFile::State> SerialStateFile::Parse(const QByteArray& text, int* badLine) {
    static const QRegularExpression entry("^([a-z]+)=(.*)$");
    static const QRegularExpression pendingItem("^([0-9]{1,20})@(.+:[0-9]+)$");
    State state;
    bool haveNext = false;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        *badLine = i + 1;
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QRegularExpressionMatch m = entry.match(line);
        if (!m.hasMatch()) return std::nullopt;
        const QString name = m.captured(1);
        const QStringList items = m.captured(2).split(',', Qt::SkipEmptyParts);
        if (name == "next") {
            const std::optional<uint64_t> next = ParseSerialNumber(m.captured(2));
            if (haveNext || !next || m.captured(2).startsWith("0x")) return std::nullopt;
            state.next = *next, haveNext = true;
        } else if (name == "used") {
            for (const QString& item : items) {
                bool ok = false;
                state.used.insert(item.trimmed().toULongLong(&ok));
                if (!ok) return std::nullopt;
            }
        } else if (name == "pending") {
            for (const QString& item : items) {
                const QRegularExpressionMatch p = pendingItem.match(item.trimmed());
                bool ok = false;
                const uint64_t number = p.captured(1).toULongLong(&ok);
                if (!p.hasMatch() || !ok) return std::nullopt;
                state.pending[number] = p.captured(2);
            }
        } else {
            return std::nullopt;
        }
    }
    *badLine = 0;
    if (!haveNext) return std::nullopt;
    settle(state);
    return state;
}

QByteArray SerialStateFile::Format(const State& state) {
    QByteArray text =
        "# praxon-cli serial numbers. next: the lowest number not yet used; used: numbers above\n"
        "# it already used; pending: numbers boards are being programmed with (NUMBER@HOST:PID).\n";
    text += "next=" + QByteArray::number(qulonglong(state.next)) + '\n';
    QByteArrayList used, pending;
    for (uint64_t n : state.used) used << QByteArray::number(qulonglong(n));
    for (const auto& [n, owner] : state.pending)
        pending << QByteArray::number(qulonglong(n)) + '@' + owner.toUtf8();
    if (!used.isEmpty()) text += "used=" + used.join(',') + '\n';
    if (!pending.isEmpty()) text += "pending=" + pending.join(',') + '\n';
    return text;
}

bool SerialStateFile::read(State* state, bool mayCreate, EventSink& sink) {
    QFile file(path_);
    if (!file.exists()) {
        if (!start_ || !mayCreate) {
            sink.report(event(EventCode::SerialStateMissing));
            return false;
        }
        *state = State();
        state->next = *start_;
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        Event e = event(EventCode::SerialStateFailed);
        e.detail = file.errorString();
        sink.report(e);
        return false;
    }
    int badLine = 0;
    const std::optional<State> parsed = Parse(file.read(1 << 20), &badLine);
    if (!parsed) {
        sink.report(event(EventCode::SerialStateInvalid).withValue(badLine));
        return false;
    }
    // A start beyond the file's numbers would skip some without anyone noticing.
    if (start_ && *start_ > parsed->next) {
        sink.report(event(EventCode::SerialStartAhead).withValue(qint64(parsed->next)));
        return false;
    }
    *state = *parsed;
    return true;
}

bool SerialStateFile::update(EventSink& sink, bool mayCreate,
                             const std::function<bool(State&)>& change) {
    const std::lock_guard<std::mutex> guard(processLock);
    QLockFile lock(path_ + ".lock");
    if (!LockWithin(lock, kLockWaitMs)) {
        Event e = event(EventCode::SerialStateFailed);
        e.detail = lock.error() == QLockFile::LockFailedError
                       ? QStringLiteral("locked by another process (%1.lock)").arg(path_)
                       : QStringLiteral("cannot create %1.lock").arg(path_);
        sink.report(e);
        return false;
    }
    State state;
    if (!read(&state, mayCreate, sink) || !change(state)) return false;
    settle(state);
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(Format(state)) < 0 || !file.commit()) {
        Event e = event(EventCode::SerialStateFailed);
        e.detail = file.errorString();
        sink.report(e);
        return false;
    }
    return true;
}

bool SerialStateFile::check(EventSink& sink, uint64_t* next) {
    const std::lock_guard<std::mutex> guard(processLock);
    State state;
    if (!read(&state, true, sink)) return false;
    if (next) *next = state.next;
    // A new file must be possible where it is asked for.
    if (!QFile::exists(path_) && !QFileInfo(QFileInfo(path_).absolutePath()).isDir()) {
        Event e = event(EventCode::SerialStateFailed);
        e.detail = QStringLiteral("no such folder");
        sink.report(e);
        return false;
    }
    return true;
}

std::optional<uint64_t> SerialStateFile::take(EventSink& sink) {
    std::optional<uint64_t> taken;
    const bool ok = update(sink, true, [&](State& state) {
        // Numbers left pending by a process that has gone: used, as they may be on a board.
        for (auto it = state.pending.begin(); it != state.pending.end();) {
            const std::optional<qint64> pid = localPid(it->second);
            if (pid && !processAlive(*pid)) {
                state.used.insert(it->first);
                it = state.pending.erase(it);
            } else {
                ++it;
            }
        }
        settle(state);
        uint64_t n = state.next;
        while (state.used.count(n) || state.pending.count(n)) {
            if (n == UINT64_MAX) return false;
            ++n;
        }
        state.pending[n] = SerialOwner();
        taken = n;
        return true;
    });
    return ok ? taken : std::nullopt;
}

bool SerialStateFile::finish(uint64_t number, bool used, EventSink& sink) {
    // A file gone meanwhile is not made again from --serial-start: that would hand out numbers
    // twice.
    return update(sink, false, [&](State& state) {
        state.pending.erase(number);
        if (used) state.used.insert(number);
        return true;
    });
}

}  // namespace praxon::cli
