#include "LoaderLink.h"

#include <zlib.h>

#include <QElapsedTimer>
#include <algorithm>
#include <deque>
#include <numeric>
#include <optional>

#include "Commands.h"
#include "LzmaFrames.h"
#include "TurboFrames.h"

namespace praxon::flash {

namespace {

using namespace loadercmd;

constexpr int kFrameOverhead = 10;
constexpr std::uint32_t kEraseFrameBytes = 6 + kFrameOverhead;
constexpr int kMaxFramesInFlight = 64;  // well below 128, so old and new sequence numbers differ
constexpr int kMaxResends = 5;          // after timeouts: the chip may have stopped answering
// After NAKs the chip answers and the line is only noisy: resends go on this long without
// progress (each costs at most a window on the wire).
constexpr qint64 kNakResendLimitNs = 20'000'000'000;
constexpr qint64 kMs = 1'000'000;
constexpr qint64 kReplyMarginNs = 100 * kMs;  // adapter latency and the host's own delays
constexpr int kDictionaryBytes = 32 * 1024;
constexpr int kDeflatePiece = 4096;
constexpr int kReadPiece = 1024;
constexpr int kMinSplitBytes = 128;         // a raw write's data is split no shorter
constexpr qint64 kNoisyWindowBytes = 1024;  // the window right after a NAK
// An LZMA frame's output at most: its reply time stays near that of the other writes.
constexpr int kLzmaMaxOutput = 8192;
constexpr int kLzmaBeginHead = 7;  // u32 address, u16 output bytes, u8 props
constexpr int kLzmaMoreHead = 2;   // u16 output bytes

qint64 WireBytes(const std::vector<LoaderLink::Request>& requests) {
    qint64 bytes = 0;
    for (const LoaderLink::Request& request : requests)
        bytes += request.payload.size() + kFrameOverhead;
    return bytes;
}

void AppendU16(QByteArray& bytes, std::uint32_t value) {
    bytes.append(char(value));
    bytes.append(char(value >> 8));
}

void AppendU32(QByteArray& bytes, std::uint32_t value) {
    AppendU16(bytes, value);
    AppendU16(bytes, value >> 16);
}

std::uint32_t U32(const QByteArray& bytes, int offset) {
    if (bytes.size() < offset + 4) return 0;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | std::uint8_t(bytes[offset + i]);
    return value;
}

bool RepliesWithData(std::uint8_t command) {
    return command == kCrc || command == kCompare || command == kRead || command == kHello;
}

LoaderResult FromReplyStatus(ReplyStatus status, LoaderOutcome otherwise) {
    LoaderResult result;
    result.outcome = status == ReplyStatus::Stopped    ? LoaderOutcome::Stopped
                     : status == ReplyStatus::LineLost ? LoaderOutcome::LineLost
                                                       : otherwise;
    return result;
}

LoaderResult Outcome(LoaderOutcome outcome, std::uint8_t command = 0) {
    LoaderResult result;
    result.outcome = outcome;
    result.command = command;
    return result;
}

// Cuts a write in two where that keeps the data whole: request keeps the first part, the second
// is returned. Raw data halves (down to kMinSplitBytes each); an LZMA frame's stream is cut at the
// cut nearest its middle, the second part continuing the stream. None for anything else.
std::optional<LoaderLink::Request> SplitOff(LoaderLink::Request* request) {
    LoaderLink::Request rest;
    qint64 firstShare = 0, total = 0;  // output bytes of the first part and of both
    if (request->command == kWrite) {
        const int half = (int(request->payload.size()) - 4) / 2 & ~1;
        if (half < kMinSplitBytes) return std::nullopt;
        rest.command = kWrite;
        AppendU32(rest.payload, U32(request->payload, 0) + std::uint32_t(half));
        rest.payload += request->payload.mid(4 + half);
        request->payload.truncate(4 + half);
        firstShare = half;
        total = half + rest.payload.size() - 4;
    } else if (request->command == kWriteLzma || request->command == kWriteLzmaMore) {
        if (request->cuts.empty()) return std::nullopt;
        const int head = request->command == kWriteLzma ? kLzmaBeginHead : kLzmaMoreHead;
        const int sizeAt = request->command == kWriteLzma ? 4 : 0;  // the u16 output length
        total = std::uint8_t(request->payload[sizeAt]) | std::uint8_t(request->payload[sizeAt + 1])
                                                             << 8;
        auto cut = std::min_element(request->cuts.begin(), request->cuts.end(),
                                    [&](const auto& a, const auto& b) {
                                        return std::abs(2 * qint64(a.first) - total) <
                                               std::abs(2 * qint64(b.first) - total);
                                    });
        firstShare = cut->first;
        rest.command = kWriteLzmaMore;
        AppendU16(rest.payload, std::uint32_t(total - firstShare));
        rest.payload += request->payload.mid(head + cut->second);
        for (auto it = cut + 1; it != request->cuts.end(); ++it)
            rest.cuts.push_back({it->first - cut->first, it->second - cut->second});
        request->payload.truncate(head + cut->second);
        request->payload[sizeAt] = char(firstShare);
        request->payload[sizeAt + 1] = char(firstShare >> 8);
        request->cuts.erase(cut, request->cuts.end());
    } else {
        return std::nullopt;
    }
    rest.workNs = request->workNs * (total - firstShare) / total;
    rest.bytes = request->bytes * (total - firstShare) / total;
    request->workNs -= rest.workNs;
    request->bytes -= rest.bytes;
    return rest;
}

}  // namespace

std::uint32_t LoaderRamEnd(std::uint16_t pid, std::uint32_t flashBytes,
                           std::uint32_t ramEndFromTable) {
    const std::uint32_t kb = flashBytes / 1024;
    switch (pid) {
        case 0x412:
            return kb <= 16 ? 0x20001000 : 0x20001800;
        case 0x410:
            return kb <= 64 ? 0x20002800 : 0x20004000;
        case 0x420:
            return kb <= 32 ? 0x20001000 : 0x20002000;
        case 0x414:
            return kb <= 256 ? 0x20008000 : 0x2000C000;
        case 0x428:
            return kb <= 256 ? 0x20006000 : 0x20008000;
        case 0x418:
            return 0x20010000;
        case 0x430:
            return 0x20014000;
        case 0x444:
        case 0x440:
            return kb <= 16 ? 0x20001000 : ramEndFromTable;
        case 0x442:
        case 0x448:
        case 0x422:
        case 0x432:
        case 0x438:
        case 0x439:
        case 0x446:
            return ramEndFromTable;
        default:
            return 0;
    }
}

std::optional<LoaderChoice> ChooseLoader(const DeviceInfo& device, std::uint16_t pid,
                                         std::uint32_t flashBytes, bool sizeKnown, int baud) {
    LoaderFamily family;
    if (device.family == QLatin1String("STM32F10x"))
        family = LoaderFamily::F1;
    else if (device.family == QLatin1String("STM32F0xx"))
        family = LoaderFamily::F0;
    else if (device.family == QLatin1String("STM32F3xx"))
        family = LoaderFamily::F3;
    else
        return std::nullopt;
    if (device.ram.empty() || !device.unitsKnown(flashBytes, sizeKnown) || flashBytes == 0)
        return std::nullopt;
    // The loader erases by pages of one size.
    const std::uint32_t pageSize = device.units.front().size;
    for (const EraseRun& run : device.units)
        if (run.size != pageSize) return std::nullopt;
    if (pageSize < 256 || (pageSize & (pageSize - 1))) return std::nullopt;
    LoaderChoice choice;
    choice.binary = LoaderFor(family, device.ram.front().begin);
    if (!choice.binary) return std::nullopt;
    choice.parameters.baud = std::uint32_t(baud);
    choice.parameters.ramEnd = LoaderRamEnd(pid, flashBytes, std::uint32_t(device.ram.back().end));
    choice.parameters.pageSize = pageSize;
    choice.parameters.flashSize = flashBytes;
    choice.parameters.bank2Start = device.bank2Address(flashBytes, sizeKnown);
    const std::uint32_t rxStart = LoaderRxStart(*choice.binary);
    if (choice.parameters.ramEnd < rxStart + 512) return std::nullopt;
    return choice;
}

QByteArray DeflateRaw(const QByteArray& data, const QByteArray& dictionary) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    const QByteArray window = dictionary.right(kDictionaryBytes);
    if (!window.isEmpty() &&
        deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(window.constData()),
                             uInt(window.size())) != Z_OK) {
        deflateEnd(&stream);
        return {};
    }
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

std::vector<std::uint32_t> BlockCrcs(const QByteArray& image, std::uint32_t blockSize) {
    std::vector<std::uint32_t> crcs;
    for (qint64 offset = 0; offset < image.size(); offset += blockSize) {
        QByteArray block = image.mid(offset, blockSize);
        block.append(QByteArray(int(blockSize) - int(block.size()), char(0xFF)));
        crcs.push_back(turbo::Crc32Words(block));
    }
    return crcs;
}

LoaderLink::LoaderLink(BootLink& link) : link_(link) {}

LoaderLink::~LoaderLink() {
    if (receiving_) link_.setReceiver(nullptr);
}

qint64 LoaderLink::wireNs(qint64 bytes) const {
    return LoaderLineNs(bytes, baud_);
}

void LoaderLink::useStartLine() {
    if (baud_ != startBaud_ && link_.port().setBaudRate(startBaud_)) baud_ = startBaud_;
    link_.port().setEvenParity(true);
}

qint64 LoaderLink::sendFrame(std::uint8_t seq, std::uint8_t command, const QByteArray& payload) {
    const QByteArray line = turbo::EscapeForLine(turbo::EncodeFrame(seq, command, payload));
    ++stats_.framesSent;
    stats_.bytesSent += line.size();
    return link_.send(line) ? line.size() : 0;
}

LoaderResult LoaderLink::start(const LoaderBinary& binary, const LoaderParameters& parameters) {
    const QByteArray image = LoaderImage(binary, parameters);
    if (image.isEmpty()) return Outcome(LoaderOutcome::BadRequest);
    startBaud_ = baud_ = int(parameters.baud);
    for (int offset = 0; offset < image.size(); offset += 256) {
        const int n = std::min(256, int(image.size()) - offset);
        const CommandResult written =
            WriteMemory(link_, binary.loadAddress + std::uint32_t(offset),
                        reinterpret_cast<const uint8_t*>(image.constData()) + offset, n);
        if (!written.ok()) return FromReplyStatus(written.reply.status, LoaderOutcome::NotStarted);
    }
    const CommandResult went = Go(link_, binary.loadAddress);
    if (!went.ok()) return FromReplyStatus(went.reply.status, LoaderOutcome::NotStarted);
    link_.port().setEvenParity(false);  // the loader's line (LoaderImage.h)
    receiving_ = true;
    link_.setReceiver([this](const QByteArray& chunk) { received_ += chunk; });
    if (!link_.pause(5 * kMs))
        return Outcome(link_.stopped() ? LoaderOutcome::Stopped : LoaderOutcome::LineLost);
    LoaderResult result = hello(10, 100);
    if (result.outcome == LoaderOutcome::NoAnswer) result.outcome = LoaderOutcome::NotStarted;
    return result;
}

LoaderResult LoaderLink::hello(int tries, int intervalMs) {
    // Every try carries the same sequence number: HELLO runs whatever the chip expects, so a late
    // answer to an earlier try is as good as the last one, and the chip's count stays ours.
    const std::uint8_t seq = seq_;
    turbo::FrameReader reader;
    std::optional<turbo::Frame> answer;
    for (int attempt = 0; attempt < tries; ++attempt) {
        if (!sendFrame(seq, kHello, {})) return Outcome(LoaderOutcome::LineLost, kHello);
        const ReplyStatus status = link_.waitUntil(
            [&] {
                reader.feed(std::exchange(received_, QByteArray()));
                while (auto frame = reader.next())
                    if (frame->seq == seq && frame->code == kHello) answer = frame;
                return answer.has_value();
            },
            intervalMs * kMs);
        if (status == ReplyStatus::Stopped || status == ReplyStatus::LineLost)
            return FromReplyStatus(status, LoaderOutcome::NoAnswer);
        if (answer) break;
        reader.giveUpPending();
    }
    if (!answer || answer->payload.size() < 44 || answer->payload[0] != 0)
        return Outcome(LoaderOutcome::NoAnswer, kHello);
    const QByteArray& p = answer->payload;
    hello_.version = std::uint8_t(p[1]);
    hello_.family = std::uint8_t(p[2]);
    hello_.flags = std::uint8_t(p[3]);
    hello_.rxSize = U32(p, 4);
    hello_.maxPayload = U32(p, 8);
    hello_.loadAddress = U32(p, 12);
    hello_.ramEnd = U32(p, 16);
    hello_.pageSize = U32(p, 20);
    hello_.flashSize = U32(p, 24);
    hello_.flashSizeRegister = U32(p, 28);
    hello_.bank2Start = U32(p, 32);
    hello_.clockHz = U32(p, 36);
    hello_.baud = U32(p, 40);
    hello_.lzmaTable = U32(p, 44);  // 0 from loaders without the field
    seq_ = std::uint8_t(seq + 1);
    received_.clear();
    return {};
}

LoaderResult LoaderLink::run(const std::vector<Request>& batch, std::vector<Response>* responses,
                             int* failedIndex) {
    std::vector<Response> local;
    std::vector<Response>& out = responses ? *responses : local;
    out.assign(batch.size(), {});
    for (const Request& request : batch)
        if (request.payload.size() > qint64(hello_.maxPayload))
            return Outcome(LoaderOutcome::BadRequest, request.command);

    // The frames: the batch's requests, then the second halves of raw writes split on a line
    // that keeps damaging them (origin: the batch request each stands for).
    std::vector<Request> requests = batch;
    std::vector<int> origin(batch.size()), naks(batch.size(), 0);
    std::iota(origin.begin(), origin.end(), 0);
    // The order frames are sent in: the requests, then any that must be asked again.
    std::vector<int> order(batch.size());
    std::iota(order.begin(), order.end(), 0);
    struct InFlight {
        std::size_t position;
        std::uint8_t seq;
        qint64 bytes;      // in the chip's buffer: the window's measure
        qint64 lineBytes;  // on the line, escapes included: its time
    };
    std::deque<InFlight> flight;
    std::size_t next = 0;
    int resendsWithoutProgress = 0;
    // After a missing reply only the oldest frame goes again until an answer shows the chip alive.
    bool probing = false;
    // The bytes that may be in flight: the chip's buffer, less after a NAK.
    qint64 window = qint64(hello_.rxSize);
    QElapsedTimer sinceProgress, sinceStart;
    sinceProgress.start();
    sinceStart.start();
    qint64 bytesTotal = 0, bytesDone = 0, idealNs = 0;
    for (const Request& request : requests) {
        bytesTotal += request.bytes;
        idealNs += request.workNs + wireNs(request.payload.size() + 2 * kFrameOverhead);
    }
    // A line so bad that resends never end still ends: the whole batch may take this long.
    const qint64 limitNs = 4 * idealNs + kNakResendLimitNs;
    turbo::FrameReader reader(int(std::max<std::uint32_t>(hello_.maxPayload, 64)));
    std::deque<turbo::Frame> frames;
    received_.clear();

    const auto goBack = [&](std::size_t k) {
        next = flight[k].position;
        seq_ = flight[k].seq;
        flight.erase(flight.begin() + long(k), flight.end());
        ++stats_.resends;
    };
    // A frame the chip executed whose reply was lost: done, or asked again if only its reply
    // carries what was wanted.
    const auto executedUnanswered = [&](const InFlight& entry) {
        ++stats_.unanswered;
        if (RepliesWithData(requests[std::size_t(order[entry.position])].command))
            order.push_back(order[entry.position]);
    };

    // A line that loses or damages a byte in so many hundred loses nearly every long frame: a
    // write NAKed twice goes on as two frames of about half of it (SplitOff).
    const auto splitIfDamagedAgain = [&] {
        const int w = order[next];
        if (++naks[std::size_t(w)] < 2) return;
        std::optional<Request> rest = SplitOff(&requests[std::size_t(w)]);
        if (!rest) return;
        naks[std::size_t(w)] = 0;
        requests.push_back(std::move(*rest));
        origin.push_back(origin[std::size_t(w)]);
        naks.push_back(0);
        order.insert(order.begin() + long(next) + 1, int(requests.size()) - 1);
        ++stats_.splits;
    };

    while (next < order.size() || !flight.empty()) {
        qint64 inFlightBytes = 0, inFlightLineBytes = 0, workNs = 0;
        for (const InFlight& entry : flight) {
            inFlightBytes += entry.bytes;
            inFlightLineBytes += entry.lineBytes;
            workNs += requests[std::size_t(order[entry.position])].workNs;
        }
        const int maxInFlight = probing ? 1 : kMaxFramesInFlight;
        while (next < order.size() && int(flight.size()) < maxInFlight) {
            const Request& request = requests[std::size_t(order[next])];
            const qint64 bytes = request.payload.size() + kFrameOverhead;
            if (!flight.empty() && inFlightBytes + bytes > window) break;
            const qint64 lineBytes = sendFrame(seq_, request.command, request.payload);
            if (!lineBytes) return Outcome(LoaderOutcome::LineLost, request.command);
            flight.push_back({next, seq_, bytes, lineBytes});
            seq_ = std::uint8_t(seq_ + 1);
            ++next;
            inFlightBytes += bytes;
            inFlightLineBytes += lineBytes;
            workNs += request.workNs;
        }
        const qint64 timeoutNs = workNs +
                                 wireNs(inFlightLineBytes + hello_.maxPayload + kFrameOverhead) +
                                 kReplyMarginNs;
        const ReplyStatus status = link_.waitUntil(
            [&] {
                reader.feed(std::exchange(received_, QByteArray()));
                while (auto frame = reader.next()) frames.push_back(*frame);
                return !frames.empty();
            },
            timeoutNs);
        if (status == ReplyStatus::Stopped || status == ReplyStatus::LineLost)
            return FromReplyStatus(status, LoaderOutcome::NoAnswer);
        if (status == ReplyStatus::Timeout) {
            ++stats_.timeouts;
            // The chip may have reset: its ROM bootloader would take the bytes still queued for
            // commands. They are dropped, and only one frame at a time goes until it answers.
            // A reply begun and never finished was a damaged header: the bytes behind it are
            // read again, or its wrong length would hide the answers to come.
            link_.port().discardOutput();
            reader.giveUpPending();
            probing = true;
            if (++resendsWithoutProgress > kMaxResends)
                return Outcome(LoaderOutcome::NoAnswer,
                               requests[std::size_t(order[flight.front().position])].command);
            goBack(0);
            continue;
        }
        const turbo::Frame frame = frames.front();
        frames.pop_front();
        if (frame.code == kNak) {
            ++stats_.naks;
            // Every frame sent after the damaged one goes again: on a noisy line a full window
            // would cost its whole time on the line for each damaged byte.
            window = kNoisyWindowBytes;
            const auto it = std::find_if(flight.begin(), flight.end(),
                                         [&](const InFlight& e) { return e.seq == frame.seq; });
            if (it == flight.end()) continue;  // about frames already settled
            const std::size_t k = std::size_t(it - flight.begin());
            for (std::size_t i = 0; i < k; ++i) executedUnanswered(flight[i]);
            flight.erase(flight.begin(), flight.begin() + long(k));
            // The chip answers: timeouts before were lost replies, not a chip gone silent.
            resendsWithoutProgress = 0;
            probing = false;
            if (k > 0) sinceProgress.start();
            if (sinceProgress.nsecsElapsed() > kNakResendLimitNs ||
                sinceStart.nsecsElapsed() > limitNs)
                return Outcome(LoaderOutcome::NoAnswer,
                               requests[std::size_t(order[flight.front().position])].command);
            goBack(0);
            frames.clear();  // replies to frames after the NAK's are void
            splitIfDamagedAgain();
            continue;
        }
        const auto answered = std::find_if(flight.begin(), flight.end(),
                                           [&](const InFlight& e) { return e.seq == frame.seq; });
        if (answered == flight.end()) continue;  // late or repeated
        // The chip executes frames in sequence order only: an answer to a later frame shows that
        // those before it were executed, their replies lost. Their data is asked for again; the
        // answers already here are kept rather than sent for again.
        for (auto it = flight.begin(); it != answered; ++it) {
            executedUnanswered(*it);
            const Request& skipped = requests[std::size_t(order[it->position])];
            if (skipped.bytes && progress_) progress_(bytesDone += skipped.bytes, bytesTotal);
        }
        flight.erase(flight.begin(), answered);
        const InFlight entry = flight.front();
        const int index = order[entry.position];
        const Request& request = requests[std::size_t(index)];
        if (frame.code == kDup) {
            ++stats_.dups;
            executedUnanswered(entry);
            flight.pop_front();
            resendsWithoutProgress = 0;
            probing = false;
            sinceProgress.start();
            if (request.bytes && progress_) progress_(bytesDone += request.bytes, bytesTotal);
            continue;
        }
        if (frame.code != request.command || frame.payload.isEmpty()) continue;
        window = std::min(qint64(hello_.rxSize), window + entry.bytes);  // grows back per answer
        flight.pop_front();
        resendsWithoutProgress = 0;
        probing = false;
        sinceProgress.start();
        Response& response = out[std::size_t(origin[std::size_t(index)])];
        response.status = std::uint8_t(frame.payload[0]);
        response.data = frame.payload.mid(1);
        if (response.status == 0 && request.bytes && progress_)
            progress_(bytesDone += request.bytes, bytesTotal);
        if (response.status != 0) {
            LoaderResult result = Outcome(LoaderOutcome::ChipError, request.command);
            result.status = response.status;
            result.address = U32(response.data, 0);
            result.flashStatus = U32(response.data, 4);
            if (failedIndex) *failedIndex = origin[std::size_t(index)];
            // The chip goes on with the frames behind it; their replies are awaited so that
            // the next exchange starts from a known sequence number.
            if (!flight.empty()) {
                workNs = 0;
                for (const InFlight& e : flight)
                    workNs += requests[std::size_t(order[e.position])].workNs;
                const std::uint8_t last = flight.back().seq;
                bool settled = false;
                for (const turbo::Frame& f : frames) settled = settled || f.seq == last;
                link_.waitUntil(
                    [&] {
                        reader.feed(std::exchange(received_, QByteArray()));
                        while (auto f = reader.next())
                            if (f->seq == last) settled = true;
                        return settled;
                    },
                    workNs + wireNs(inFlightLineBytes) + kReplyMarginNs);
                if (!settled) hello(3, 100);
            }
            return result;
        }
    }
    return {};
}

LoaderResult LoaderLink::erasePages(std::uint32_t address, int count, int* erased) {
    if (count < 1 || count > 0xFFFF) return Outcome(LoaderOutcome::BadRequest, kErase);
    QByteArray payload;
    AppendU32(payload, address);
    AppendU16(payload, std::uint32_t(count));
    std::vector<Response> responses;
    const LoaderResult result = run({{kErase, payload, 50 * kMs * count}}, &responses);
    if (result.ok() && erased)
        *erased = responses[0].data.size() >= 2
                      ? std::uint8_t(responses[0].data[0]) | std::uint8_t(responses[0].data[1]) << 8
                      : 0;
    return result;
}

LoaderResult LoaderLink::massErase() {
    return run({{kMassErase, {}, 5000 * kMs}}, nullptr);
}

std::vector<LoaderLink::Request> LoaderLink::writeRequests(std::uint32_t address,
                                                           const QByteArray& data,
                                                           const QByteArray& below,
                                                           bool compress) const {
    std::vector<Request> requests;
    // Two frames and an ERASE fit in the chip's buffer, so the next frame arrives while the chip
    // programs the last, also where a page group's ERASE goes between them.
    const std::uint32_t room =
        hello_.rxSize > kEraseFrameBytes ? hello_.rxSize - kEraseFrameBytes : 0;
    const int payloadLimit = int(std::min<std::uint32_t>(
        hello_.maxPayload,
        std::max<std::uint32_t>(room / 2, 64 + kFrameOverhead) - kFrameOverhead));
    const int rawLimit = (payloadLimit - 4) & ~1;
    QByteArray known = below.right(kDictionaryBytes);
    const auto work = [](qint64 bytes) { return bytes / 2 * 100'000; };  // 100 us a half-word
    for (int position = 0; position < data.size();) {
        const int left = int(data.size()) - position;
        std::optional<Request> packed;
        if (compress && hello_.canInflate()) {
            for (int piece = std::min(kDeflatePiece, left) & ~1; piece >= 256 || piece == left;
                 piece = (piece / 2) & ~1) {
                const QByteArray chunk = data.mid(position, piece);
                const QByteArray stream = DeflateRaw(chunk, known);
                if (stream.isEmpty()) break;
                if (stream.size() + 8 <= payloadLimit) {
                    // Only where it saves bytes on the wire against the same data raw.
                    if (stream.size() + 4 < piece) {
                        QByteArray payload;
                        AppendU32(payload, address + std::uint32_t(position));
                        AppendU32(payload, std::uint32_t(piece));
                        payload += stream;
                        packed = Request{kWriteDeflate, payload, work(piece), piece};
                    }
                    break;
                }
                if (stream.size() >= piece || piece == left) break;  // does not shrink
            }
        }
        if (!packed) {
            const int piece = std::min(left, rawLimit);
            QByteArray payload;
            AppendU32(payload, address + std::uint32_t(position));
            payload += data.mid(position, piece);
            packed = Request{kWrite, payload, work(piece), piece};
        }
        const int piece = packed->command == kWrite ? int(packed->payload.size()) - 4
                                                    : int(U32(packed->payload, 4));
        known += data.mid(position, piece);
        if (known.size() > 2 * kDictionaryBytes) known = known.right(kDictionaryBytes);
        position += piece;
        requests.push_back(*packed);
    }
    if (compress && hello_.canLzma()) {
        const LzmaPlan plan = PlanLzma(address, data, below, hello_.lzmaTable, payloadLimit,
                                       kLzmaBeginHead, kLzmaMoreHead, kLzmaMaxOutput);
        std::vector<Request> lzma;
        for (const LzmaPiece& piece : plan.pieces) {
            QByteArray payload;
            if (lzma.empty()) {
                AppendU32(payload, address);
                AppendU16(payload, piece.outputBytes);
                payload.append(char(plan.props));
            } else {
                AppendU16(payload, piece.outputBytes);
            }
            payload += piece.stream;
            lzma.push_back({lzma.empty() ? kWriteLzma : kWriteLzmaMore, payload,
                            work(piece.outputBytes), piece.outputBytes, piece.cuts});
        }
        if (!lzma.empty() && WireBytes(lzma) < WireBytes(requests)) return lzma;
    }
    return requests;
}

LoaderResult LoaderLink::write(std::uint32_t address, QByteArray data, const QByteArray& below,
                               bool compress) {
    if (address % 2 || data.isEmpty()) return Outcome(LoaderOutcome::BadRequest, kWrite);
    if (data.size() % 2) data.append(char(0xFF));
    return run(writeRequests(address, data, below, compress), nullptr);
}

LoaderResult LoaderLink::crc(std::uint32_t address, std::uint32_t length, std::uint32_t* value) {
    QByteArray payload;
    AppendU32(payload, address);
    AppendU32(payload, length);
    std::vector<Response> responses;
    const LoaderResult result =
        run({{kCrc, payload, kMs * (1 + qint64(length) / 16384)}}, &responses);
    if (result.ok() && value) *value = U32(responses[0].data, 0);
    return result;
}

LoaderResult LoaderLink::compare(std::uint32_t address, std::uint32_t blockSize,
                                 const std::vector<std::uint32_t>& expected,
                                 std::vector<bool>* differs) {
    if (blockSize < 4 || blockSize % 4 || expected.empty())
        return Outcome(LoaderOutcome::BadRequest, kCompare);
    const std::size_t perFrame = std::max<std::size_t>(1, (hello_.maxPayload - 8) / 4);
    std::vector<Request> requests;
    std::vector<std::size_t> counts;
    for (std::size_t first = 0; first < expected.size(); first += perFrame) {
        const std::size_t n = std::min(perFrame, expected.size() - first);
        QByteArray payload;
        AppendU32(payload, address + std::uint32_t(first) * blockSize);
        AppendU32(payload, blockSize);
        for (std::size_t i = 0; i < n; ++i) AppendU32(payload, expected[first + i]);
        requests.push_back({kCompare, payload, kMs * (1 + qint64(n * blockSize) / 16384)});
        counts.push_back(n);
    }
    std::vector<Response> responses;
    const LoaderResult result = run(requests, &responses);
    if (!result.ok()) return result;
    std::vector<bool> flags;
    for (std::size_t r = 0; r < responses.size(); ++r) {
        const QByteArray& data = responses[r].data;
        for (std::size_t i = 0; i < counts[r]; ++i) {
            const int byte = 2 + int(i / 8);
            // A short bitmap is not to be trusted: the block counts as different.
            flags.push_back(byte >= data.size() || (std::uint8_t(data[byte]) >> (i % 8) & 1));
        }
    }
    if (differs) *differs = flags;
    return result;
}

LoaderResult LoaderLink::read(std::uint32_t address, int length, QByteArray* out) {
    if (length < 1) return Outcome(LoaderOutcome::BadRequest, kRead);
    // Replies of 1 KB: a longer one is more often damaged on a noisy line, and all of it goes
    // again; the frame overhead stays near 1 %.
    const int perFrame = std::max(1, std::min(kReadPiece, int(hello_.maxPayload) - 1));
    std::vector<Request> requests;
    for (int offset = 0; offset < length; offset += perFrame) {
        QByteArray payload;
        AppendU32(payload, address + std::uint32_t(offset));
        AppendU16(payload, std::uint32_t(std::min(perFrame, length - offset)));
        requests.push_back({kRead, payload, wireNs(perFrame)});
    }
    std::vector<Response> responses;
    const LoaderResult result = run(requests, &responses);
    if (result.ok() && out) {
        out->clear();
        for (const Response& response : responses) out->append(response.data);
    }
    return result;
}

BaudOutcome LoaderLink::changeBaud(std::uint32_t baud, LoaderResult* result) {
    LoaderResult local;
    LoaderResult& r = result ? *result : local;
    QByteArray payload;
    AppendU32(payload, baud);
    std::vector<Response> responses;
    r = run({{kBaud, payload, 0}}, &responses);
    if (!r.ok())
        return r.outcome == LoaderOutcome::ChipError ? BaudOutcome::KeptOld : BaudOutcome::Failed;
    QElapsedTimer sinceReply;
    sinceReply.start();
    const int oldBaud = baud_;
    // The chip has sent its reply at the old speed and switches once it has left the line.
    if (!link_.pause(2 * kMs))
        return r = Outcome(LoaderOutcome::Stopped, kBaud), BaudOutcome::Failed;
    if (link_.port().setBaudRate(int(baud))) {
        baud_ = int(baud);
        r = hello(8, 50);
        if (r.ok()) return BaudOutcome::Changed;
        if (r.outcome != LoaderOutcome::NoAnswer) return BaudOutcome::Failed;
        link_.port().setBaudRate(oldBaud);
        baud_ = oldBaud;
    }
    // The chip returns to the old speed when no good frame came at the new one for a second.
    const qint64 backNs = 1100 * kMs - sinceReply.nsecsElapsed();
    if (backNs > 0 && !link_.pause(backNs))
        return r = Outcome(LoaderOutcome::Stopped, kBaud), BaudOutcome::Failed;
    r = hello(10, 100);
    if (!r.ok()) return BaudOutcome::Failed;
    r = Outcome(LoaderOutcome::Done, kBaud);
    return BaudOutcome::KeptOld;
}

LoaderResult LoaderLink::go(std::uint32_t address) {
    QByteArray payload;
    AppendU32(payload, address);
    const LoaderResult result = run({{kGo, payload, 0}}, nullptr);
    useStartLine();
    if (result.ok()) {
        link_.setReceiver(nullptr);
        receiving_ = false;
    }
    return result;
}

std::vector<LoaderLink::Request> RunWriteRequests(const LoaderLink& loader, std::uint32_t address,
                                                  const QByteArray& pages,
                                                  const QByteArray& below) {
    const std::uint32_t pageSize = loader.info().pageSize;
    std::vector<LoaderLink::Request> requests;
    if (!pageSize || pages.isEmpty() || pages.size() % pageSize) return requests;
    const std::uint32_t count = std::uint32_t(pages.size()) / pageSize;
    // Erased flash reads 0xFF already: the run's trailing 0xFF need not travel.
    int used = int(pages.size());
    while (used > 0 && std::uint8_t(pages[used - 1]) == 0xFF) --used;
    // One stream of frames over the whole run, so that they all come near the size limit and the
    // chip's buffer always holds the next while it programs one; each page group is erased just
    // ahead of the first frame that reaches into it, so the line carries frames while it erases.
    // A group's erase holds the frames behind it up: it lasts about what the chip's receive
    // buffer takes to fill on the line (a page 20 ms typically), so the line does not stop.
    const qint64 bufferNs =
        loader.info().baud ? LoaderLineNs(loader.info().rxSize, int(loader.info().baud)) : 0;
    const std::uint32_t group = std::uint32_t(std::clamp<qint64>(
        bufferNs / (20 * kMs), 1, std::max<std::uint32_t>(1, kDeflatePiece / pageSize)));
    std::uint32_t erased = 0;  // pages of the run erased so far
    const auto eraseUpTo = [&](std::uint32_t pagesNeeded) {
        while (erased < pagesNeeded) {
            const std::uint32_t n = std::min(group, count - erased);
            QByteArray erase;
            AppendU32(erase, address + erased * pageSize);
            AppendU16(erase, n);
            requests.push_back({kErase, erase, 50 * kMs * qint64(n)});
            erased += n;
        }
    };
    if (used > 0) {
        std::uint32_t end = 0;
        for (LoaderLink::Request& write :
             loader.writeRequests(address, pages.left((used + 1) & ~1), below, true)) {
            // The writes follow one another from address (an LZMA frame after the first names
            // no address).
            end += std::uint32_t(write.bytes);
            eraseUpTo((end + pageSize - 1) / pageSize);
            requests.push_back(std::move(write));
        }
    }
    eraseUpTo(count);
    return requests;
}

void LoaderLink::adoptRunning(int baud, int startBaud) {
    baud_ = baud;
    startBaud_ = startBaud ? startBaud : baud;
    link_.port().setEvenParity(false);
    receiving_ = true;
    link_.setReceiver([this](const QByteArray& chunk) { received_ += chunk; });
}

bool LoaderLink::resetChip(int helloTries, bool orRomAnswers) {
    const bool wasStopped = link_.stopped();
    link_.setStopped(false);
    bool reset = false;
    for (;;) {
        if (hello(helloTries, 200).ok()) {
            reset = go(0xFFFFFFFFu).ok();
            break;
        }
        // After a speed change the loader may have gone back to the start speed.
        if (link_.stopped() || !link_.port().isOpen() || baud_ == startBaud_ ||
            !link_.port().setBaudRate(startBaud_))
            break;
        baud_ = startBaud_;
    }
    useStartLine();
    if (receiving_) {
        link_.setReceiver(nullptr);
        receiving_ = false;
    }
    // The loader ignores 0x7F, so an answer to it shows that the ROM bootloader runs. That may
    // have synchronised on a 0x7F among the frames sent after the chip restarted: then it takes
    // the first 0x7F for a command byte and answers the second with NACK. Only a lone answer byte
    // on a line that stays quiet counts: a loader still sending replies has 0x79 and 0x1F among
    // their bytes too.
    const auto romAnswers = [&] {
        if (!link_.pause(100 * kMs)) return false;
        Reply answer = link_.sync();
        if (answer.status == ReplyStatus::Timeout) answer = link_.sync();
        if (answer.status != ReplyStatus::Ack && answer.status != ReplyStatus::Nack) return false;
        return link_.receivedCount() == 1 && link_.pause(50 * kMs) && link_.receivedCount() == 1;
    };
    if (!reset && orRomAnswers && !link_.stopped() && link_.port().isOpen()) reset = romAnswers();
    link_.setStopped(wasStopped || link_.stopped());
    return reset;
}

LoaderResult ProgramThroughLoader(LoaderLink& loader, std::uint32_t address,
                                  const QByteArray& image, bool skipUnchanged, bool verify,
                                  LoaderProgramReport* report) {
    LoaderProgramReport local;
    LoaderProgramReport& r = report ? *report : local;
    r = {};
    const std::uint32_t pageSize = loader.info().pageSize;
    if (!pageSize || image.isEmpty() || (address - 0x08000000u) % pageSize)
        return Outcome(LoaderOutcome::BadRequest);
    QByteArray padded = image;
    padded.append(QByteArray(int((pageSize - padded.size() % pageSize) % pageSize), char(0xFF)));
    const std::vector<std::uint32_t> crcs = BlockCrcs(padded, pageSize);
    r.pages = int(crcs.size());
    std::vector<bool> differs(crcs.size(), true);
    if (skipUnchanged) {
        const LoaderResult compared = loader.compare(address, pageSize, crcs, &differs);
        if (!compared.ok()) return compared;
    }
    // Runs of differing pages; each is erased, then written, in one window.
    std::vector<LoaderLink::Request> requests;
    for (std::size_t page = 0; page < differs.size();) {
        if (!differs[page]) {
            ++r.pagesSkipped;
            r.bytesSkipped += std::min<qint64>(pageSize, image.size() - qint64(page) * pageSize);
            ++page;
            continue;
        }
        std::size_t end = page;
        while (end < differs.size() && differs[end]) ++end;
        r.written.push_back(
            {address + std::uint32_t(page * pageSize), std::uint32_t((end - page) * pageSize)});
        r.pagesWritten += int(end - page);
        const int at = int(page * pageSize);
        const int from = std::max(0, at - kDictionaryBytes);
        for (LoaderLink::Request& request : RunWriteRequests(
                 loader, address + std::uint32_t(at), padded.mid(at, int((end - page) * pageSize)),
                 padded.mid(from, at - from)))
            requests.push_back(std::move(request));
        page = end;
    }
    for (const LoaderLink::Request& request : requests)
        r.bytesOnWire += request.payload.size() + kFrameOverhead;
    const int unansweredBefore = loader.stats().unanswered;
    if (!requests.empty()) {
        const LoaderResult written = loader.run(requests, nullptr);
        if (!written.ok()) return written;
    }
    // A frame the chip executed whose reply was lost (a DUP, or a reply to a later frame came)
    // took its status with it: the chip's CRC then says whether the pages hold the image, asked
    // for or not.
    const bool unsure = loader.stats().unanswered != unansweredBefore;
    if ((!verify && !unsure) || r.written.empty()) return {};
    std::vector<LoaderLink::Request> checks;
    for (const LoaderProgramReport::Range& range : r.written) {
        QByteArray payload;
        AppendU32(payload, range.address);
        AppendU32(payload, range.length);
        checks.push_back({kCrc, payload, kMs * (1 + qint64(range.length) / 16384)});
    }
    std::vector<LoaderLink::Response> responses;
    const LoaderResult checked = loader.run(checks, &responses);
    if (!checked.ok()) return checked;
    for (std::size_t i = 0; i < r.written.size(); ++i) {
        const LoaderProgramReport::Range& range = r.written[i];
        const QByteArray expected = padded.mid(int(range.address - address), int(range.length));
        if (U32(responses[i].data, 0) == turbo::Crc32Words(expected)) continue;
        r.verifyFailed = true;
        r.mismatch = range;
        QByteArray actual;
        if (loader.read(range.address, int(range.length), &actual).ok()) {
            for (int k = 0; k < expected.size() && k < actual.size(); ++k) {
                if (expected[k] != actual[k]) {
                    r.firstDifference = range.address + std::uint32_t(k);
                    break;
                }
            }
        }
        return Outcome(LoaderOutcome::VerifyFailed, kCrc);
    }
    return {};
}

}  // namespace praxon::flash
