#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "FirmwareImage.h"
#include "ImageFormat.h"
#include "LineProtocol.h"

namespace praxon::sim {

namespace {

// The emulated core runs in slices of at most this much simulated time between looks at the
// line; at real pace the server wakes this often while it runs.
constexpr int64_t kCpuSliceNs = 2'000'000;
constexpr int64_t kCpuWakeNs = 1'000'000;
constexpr int64_t kCpuIdleWakeNs = 10'000'000;

// Inside one reply, bytes go out in chunks at least this often (the host ends a reply after
// 2 ms of quiet, so a reply must never pause for 1 ms or more).
constexpr int64_t kChunkNs = 500'000;

// A packet flushed at a hangup: how long the line may stay up for the host to read it, how long
// the pty gets to pass it on before its input queue counts, and how often to look.
constexpr int64_t kFlushHoldNs = 200'000'000;
constexpr int64_t kFlushSettleNs = 5'000'000;
constexpr int64_t kFlushPollNs = 1'000'000;

int64_t monoNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void setCloexec(int fd) {
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

namespace {
BoardConfig withRamCode(BoardConfig config) {
    config.runRamCode = true;
    return config;
}
}  // namespace

Simulator::Simulator(const SimulatorOptions& options)
    : options_(options), board_(withRamCode(options.board)), lineRandom_(options.ramLine.seed) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        closeLine();
        for (int& fd : wakePipe_) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
        return false;
    };
    if (thread_.joinable() || master_ >= 0) return fail("simulator already started");

    // Ptys skipped because another process still held their socket name; closed once one fits.
    std::vector<int> busyPtys;
    struct ClosePtys {
        std::vector<int>& fds;
        ~ClosePtys() {
            for (int fd : fds) close(fd);
        }
    } closePtys{busyPtys};
    char name[128] = {};
    for (;;) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0) return fail(errnoText("posix_openpt"));
        setCloexec(master_);
        if (grantpt(master_) != 0) return fail(errnoText("grantpt"));
        if (unlockpt(master_) != 0) return fail(errnoText("unlockpt"));
        if (ptsname_r(master_, name, sizeof name) != 0) return fail(errnoText("ptsname_r"));

        // Our own slave descriptor: raw mode is in place before any client opens the port, and the
        // master never sees a hang-up when the client closes.
        slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) return fail(errnoText("open pty slave"));
        termios tio{};
        if (tcgetattr(slave_, &tio) != 0) return fail(errnoText("tcgetattr"));
        cfmakeraw(&tio);
        tio.c_cflag |= HUPCL;  // as a serial driver starts: the last close releases DTR and RTS
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        if (tcsetattr(slave_, TCSANOW, &tio) != 0) return fail(errnoText("tcsetattr"));
        if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
            return fail(errnoText("fcntl"));
        // The lines library finds us by the pty's device number.
        struct stat pty {};
        if (fstat(slave_, &pty) != 0) return fail(errnoText("fstat pty slave"));
        ptyDev_ = pty.st_dev;
        ptyRdev_ = pty.st_rdev;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (praxon_lines_socket_name(pty.st_rdev, addr.sun_path + 1, sizeof addr.sun_path - 1)) {
            listen_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const auto length =
                socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::strlen(addr.sun_path + 1));
            const bool bound =
                listen_ >= 0 && bind(listen_, reinterpret_cast<sockaddr*>(&addr), length) == 0;
            if (!bound && listen_ >= 0 && errno == EADDRINUSE && busyPtys.size() < 8) {
                // A process that held this pty number a moment ago still holds its socket (it is
                // exiting): keep this pty open, so that the next one gets another number, and
                // retry.
                busyPtys.push_back(master_);
                close(slave_);
                close(listen_);
                master_ = slave_ = listen_ = -1;
                continue;
            }
            if (!bound || listen(listen_, 8) != 0) return fail(errnoText("line socket"));
        }
        break;
    }
    if (pipe(wakePipe_) != 0) return fail(errnoText("pipe"));
    for (int fd : wakePipe_) {
        setCloexec(fd);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }

    if (!options_.linkPath.empty()) {
        struct stat st {};
        if (lstat(options_.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode))
                return fail("--link: " + options_.linkPath + " exists and is not a symlink");
            unlink(options_.linkPath.c_str());
        }
        if (symlink(name, options_.linkPath.c_str()) != 0)
            return fail(errnoText(("symlink " + options_.linkPath).c_str()));
        linkMade_ = true;
    }

    {
        std::lock_guard<std::mutex> lock(mutex_);
        portPath_ = name;
        lastArrivalNs_ = busyUntilNs_ = lineFreeNs_ = 0;
        lines_ = {};
        openCount_ = 0;
        hostBaud_ = kDefaultLineSpeed;
        byteNs_ = options_.instant ? 0 : kByteTimeNs;
    }
    stopRequested_ = false;
    serving_ = true;
    thread_ = std::thread(&Simulator::run, this);
    return true;
}

std::string Simulator::portPath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return portPath_;
}

bool Simulator::serving() const {
    return serving_;
}

void Simulator::wake() {
    if (wakePipe_[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = write(wakePipe_[1], &c, 1);
    }
}

void Simulator::closeLine() {
    // The socket first: its name comes from the pty's number, which another start may take next.
    if (listen_ >= 0) close(listen_);
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    for (const auto& c : lineClients_) close(c.fd);
    lineClients_.clear();
    master_ = slave_ = listen_ = -1;
}

void Simulator::stop() {
    stopRequested_ = true;
    wake();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    closeLine();
    for (int& fd : wakePipe_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    if (linkMade_) {
        unlink(options_.linkPath.c_str());
        linkMade_ = false;
    }
    serving_ = false;
    cpu_.reset();
    queue_.clear();
    queueHead_ = packetBytes_ = 0;
    flushHoldUntilNs_ = -1;
}

void Simulator::reset() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        resetLocked();
    }
    wake();
}

void Simulator::resetLocked() {
    board_.reset();
    if (board_.state() != Board::State::RamCode) cpu_.reset();
    queue_.clear();
    queueHead_ = packetBytes_ = 0;
    flushHoldUntilNs_ = -1;
    lastArrivalNs_ = busyUntilNs_ = lineFreeNs_ = 0;
    // Whatever the old session left unread on either side is gone with the reset.
    if (slave_ >= 0) tcflush(slave_, TCIOFLUSH);
}

bool Simulator::passRamLineByte(uint8_t* byte) {
    const RamLineFaults& f = options_.ramLine;
    if (f.dropOneIn > 0 && lineRandom_() % uint32_t(f.dropOneIn) == 0) {
        ++lineFaults_.droppedBytes;
        return false;
    }
    if (f.noiseOneIn > 0 && lineRandom_() % uint32_t(f.noiseOneIn) == 0) {
        ++lineFaults_.noisyBytes;
        *byte = uint8_t(*byte ^ (1u << (lineRandom_() % 8)));
    }
    return true;
}

void Simulator::setFaults(const std::vector<Fault>& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    board_.setFaults(faults);
}

std::vector<uint8_t> Simulator::flashImage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return board_.flash();
}

void Simulator::loadFlash(uint32_t offset, const std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    board_.loadFlash(offset, data.data(), data.size());
}

bool Simulator::readoutProtected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return board_.readoutProtected();
}

Board::State Simulator::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return board_.state();
}

Simulator::Lines Simulator::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

Counters Simulator::counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Counters c = board_.counters();
    c.noisyBytes = lineFaults_.noisyBytes;
    c.droppedBytes = lineFaults_.droppedBytes;
    c.faultResets = lineFaults_.faultResets;
    return c;
}

std::string Simulator::countersJson() const {
    return countersToJson(counters());
}

void Simulator::setEventHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    onEvent_ = std::move(handler);
}

// Puts the board's output on the modelled line: delays are board work, then each byte takes
// one byte time and is handed to the pty when it would have been fully received (or, behind a
// USB adapter, when its packet goes to the host).
void Simulator::schedule(const Board::Output& out, int64_t processNs) {
    const bool usb = options_.usbPacket > 0 && options_.usbLatencyMs > 0;
    int64_t t = processNs;
    for (const auto& e : out) {
        if (!options_.instant) t += e.delayNs;
        t += e.faultDelayNs;
        for (uint8_t b : e.bytes) {
            int64_t release = t;
            if (!options_.instant) {
                const int64_t start = std::max(t, lineFreeNs_);
                lineFreeNs_ = start + byteNs_;
                release = lineFreeNs_;
            }
            queue_.push_back({release, b, false});
            if (usb) packByte(release);
        }
        if (e.hangup) {
            const int64_t at = std::max(t, lineFreeNs_);
            flushPacket(at);
            queue_.push_back({at, 0, true});
        }
    }
    busyUntilNs_ = std::max(busyUntilNs_, t);
}

// The last queued byte entered the adapter's buffer at onLineNs. A packet goes to the host when
// it is full or when its latency timer, started by its first byte, runs out; a later reply may
// still join a packet that is waiting. Only the packet being filled changes, and its bytes are
// the last ones queued, so the queue stays sorted.
void Simulator::packByte(int64_t onLineNs) {
    const int64_t latencyNs = int64_t(options_.usbLatencyMs) * 1'000'000;
    if (packetBytes_ > 0 && packetFirstNs_ + latencyNs <= onLineNs) packetBytes_ = 0;  // sent
    if (packetBytes_ == 0) {
        packetStart_ = queue_.size() - 1;
        packetFirstNs_ = onLineNs;
    }
    if (++packetBytes_ < size_t(options_.usbPacket)) {
        queue_.back().releaseNs = packetFirstNs_ + latencyNs;
        return;
    }
    for (size_t i = packetStart_; i < queue_.size(); ++i) queue_[i].releaseNs = onLineNs;
    packetBytes_ = 0;
}

// The pty drops unread input when the line closes, so a packet flushed just before a hangup
// would never reach the host: the line stays up until the host took it, for a short while at
// most. Without the adapter model the line closes at once, as it always did.
bool Simulator::holdLineForFlush(int64_t nowNs) {
    if (options_.usbPacket <= 0 || options_.usbLatencyMs <= 0 || slave_ < 0) return false;
    if (flushHoldUntilNs_ < 0) {
        flushHoldUntilNs_ = nowNs + kFlushHoldNs;
        flushHoldFromNs_ = nowNs;
    }
    if (nowNs >= flushHoldUntilNs_) return false;
    // Bytes just written may not have reached the slave's input queue yet.
    if (nowNs - flushHoldFromNs_ < kFlushSettleNs) return true;
    int unread = 0;
    return ioctl(slave_, FIONREAD, &unread) == 0 && unread > 0;
}

// Sends the packet being filled no later than atNs (the line is about to close).
void Simulator::flushPacket(int64_t atNs) {
    for (size_t i = packetStart_; packetBytes_ > 0 && i < queue_.size(); ++i)
        queue_[i].releaseNs = std::min(queue_[i].releaseNs, atNs);
    packetBytes_ = 0;
}

void Simulator::run() {
    while (!stopRequested_) {
        std::vector<std::string> events;
        std::function<void(const std::string&)> handler;
        int64_t timeoutNs = -1;
        bool hungUp = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const int64_t cpuTimeoutNs = stepCpu(monoNs());
            const int64_t now = monoNs();
            std::vector<uint8_t> out;
            while (queueHead_ < queue_.size() && queue_[queueHead_].releaseNs <= now) {
                if (queue_[queueHead_].hangup) {
                    hungUp = true;
                    break;
                }
                out.push_back(queue_[queueHead_++].byte);
            }
            if (!out.empty() && master_ >= 0) {
                // A full pty buffer means nobody reads: the UART's bytes are lost, as on a wire.
                [[maybe_unused]] ssize_t n = write(master_, out.data(), out.size());
            }
            const bool holding = hungUp && holdLineForFlush(now);
            if (holding) {
                hungUp = false;
                timeoutNs = kFlushPollNs;
            } else if (queueHead_ == queue_.size()) {
                // Everything went out, a waiting packet too (its timer ran out).
                queue_.clear();
                queueHead_ = packetBytes_ = 0;
            } else if (!hungUp) {
                // Bytes go out in chunks of about kChunkNs (a wake-up per byte would load the
                // machine), but never later than the last queued byte is due, so the first and the
                // last byte of a reply reach the host on time.
                timeoutNs = std::max<int64_t>(queue_[queueHead_].releaseNs - now, 0);
                if (!out.empty())
                    timeoutNs = std::max(
                        timeoutNs, std::min<int64_t>(kChunkNs, queue_.back().releaseNs - now));
            }
            if (hungUp) {
                serving_ = false;
                closeLine();
                queue_.clear();
                queueHead_ = packetBytes_ = 0;
                flushHoldUntilNs_ = -1;
            }
            if (cpuTimeoutNs >= 0 && !hungUp)
                timeoutNs = timeoutNs < 0 ? cpuTimeoutNs : std::min(timeoutNs, cpuTimeoutNs);
            events = board_.takeEvents();
            handler = onEvent_;
        }
        if (handler)
            for (const auto& e : events) handler(e);
        if (hungUp) return;

        std::vector<pollfd> fds = {
            {master_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
        for (const auto& c : lineClients_) fds.push_back({c.fd, POLLIN, 0});
        timespec ts{};
        if (timeoutNs >= 0) {
            ts.tv_sec = timeoutNs / 1'000'000'000;
            ts.tv_nsec = timeoutNs % 1'000'000'000;
        }
        int r = ppoll(fds.data(), fds.size(), timeoutNs >= 0 ? &ts : nullptr, nullptr);
        if (r < 0) {
            if (errno == EINTR) continue;
            timespec pause{0, 10'000'000};
            nanosleep(&pause, nullptr);
            continue;
        }
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
        }
        // Ended connections first: a client that closed the port and opened it again releases
        // its lines before it asserts them anew.
        std::vector<bool> ended(lineClients_.size(), false);
        for (const bool hangups : {true, false}) {
            for (size_t i = 0; i < lineClients_.size(); ++i) {
                const short ev = fds[3 + i].revents;
                if (!ended[i] && ev && bool(ev & (POLLHUP | POLLERR)) == hangups)
                    ended[i] = !serveLineClient(lineClients_[i]);
            }
        }
        for (size_t i = lineClients_.size(); i-- > 0;)
            if (ended[i]) lineClients_.erase(lineClients_.begin() + long(i));
        if (fds[2].revents & POLLIN) acceptLineClients();
        if (fds[0].revents & POLLIN) {
            std::lock_guard<std::mutex> lock(mutex_);
            takeHostBytes();
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while we hold the slave open; never spin if it does.
            timespec pause{0, 10'000'000};
            nanosleep(&pause, nullptr);
        }
    }
}

// Runs the emulated core up to now (at real pace) or a slice further (instant) and queues what
// its USART sent. Returns how long the server may sleep (-1: until something happens). Lock
// held.
int64_t Simulator::stepCpu(int64_t nowNs) {
    if (cpu_ && board_.state() != Board::State::RamCode) cpu_.reset();  // reset, NRST low
    if (!cpu_ || cpu_->status() != CortexM::Status::Running) return -1;
    // The host's receiving speed is the terminal's now: the code in SRAM may speak first after
    // the host changed it (a first stage announcing itself at the fast speed).
    if (slave_ >= 0) {
        const int baud = ttyBaud(slave_);
        if (baud > 0) hostBaud_ = baud;
    }
    cpu_->setHostBaud(hostBaud_);
    const int64_t target = options_.instant ? cpu_->nowNs() + kCpuSliceNs
                                            : std::min(nowNs, cpu_->nowNs() + kCpuSliceNs);
    cpu_->runUntil(target);
    const bool usb = options_.usbPacket > 0 && options_.usbLatencyMs > 0;
    for (const CortexM::Sent& s : cpu_->takeSent()) {
        // At real pace the byte is due when it finished on the line; instant: now.
        const int64_t release = options_.instant ? nowNs : std::max(s.atNs, lineFreeNs_);
        lineFreeNs_ = release;
        uint8_t byte = s.byte;
        if (!passRamLineByte(&byte)) continue;
        queue_.push_back({release, byte, false});
        if (usb) packByte(release);
    }
    if (cpu_->status() == CortexM::Status::Reset || cpu_->status() == CortexM::Status::UserProgram)
        cpu_.reset();  // the board took over again
    if (!cpu_ || cpu_->status() != CortexM::Status::Running) return -1;
    if (options_.instant) return cpu_->waitingForHost() ? -1 : 0;
    // Behind the wall clock: on at once; only waiting for the host: a longer nap (a byte from
    // the host wakes the server anyway).
    if (cpu_->nowNs() < target || target < nowNs) return 0;
    return cpu_->waitingForHost() ? kCpuIdleWakeNs : kCpuWakeNs;
}

// Feeds the board everything the host wrote so far, at the pace and speed the host set. While
// the host sends a break its line is held low: nothing it writes gets through. Lock held.
void Simulator::takeHostBytes() {
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = master_ >= 0 ? read(master_, buf, sizeof buf) : -1;
        if (n <= 0) return;
        if (lines_.brk) continue;
        const int64_t now = monoNs();
        hostBaud_ = ttyBaud(slave_);
        byteNs_ = options_.instant ? 0 : byteTimeNs(hostBaud_);
        for (ssize_t i = 0; i < n; ++i) {
            if (cpu_ && options_.ramLine.resetAfterBytes &&
                ++ramHostBytes_ == options_.ramLine.resetAfterBytes) {
                // The rest of the host's bytes meet the bootloader.
                ++lineFaults_.faultResets;
                board_.addEvent("reset after " + std::to_string(ramHostBytes_) +
                                " bytes to code in SRAM");
                resetLocked();
            }
            if (cpu_) {
                uint8_t byte = buf[i];
                if (!passRamLineByte(&byte)) continue;
                // The emulated chip's USART paces them itself, in its own time.
                cpu_->receive(byte, hostBaud_, options_.instant ? cpu_->nowNs() : now);
                continue;
            }
            // Host bytes arrive no faster than the line carries them.
            const int64_t arrival = std::max(now, lastArrivalNs_ + byteNs_);
            lastArrivalNs_ = arrival;
            const int64_t process = std::max(arrival, busyUntilNs_);
            schedule(board_.feed(buf[i], process, hostBaud_), process);
            if (board_.state() == Board::State::RamCode) {
                // Go to SRAM: the core starts once the ACK is out.
                const int64_t start = options_.instant ? process : std::max(process, lineFreeNs_);
                cpu_ = std::make_unique<CortexM>(board_, start);
            }
        }
    }
}

// A chip in reset stops talking: what it had not sent yet is gone. Lock held.
void Simulator::dropOutput() {
    queue_.clear();
    queueHead_ = packetBytes_ = 0;
    flushHoldUntilNs_ = -1;
    busyUntilNs_ = lineFreeNs_ = 0;
}

// Lock held. Bytes the host wrote before the change meet the old levels.
void Simulator::setLines(const Lines& lines) {
    takeHostBytes();
    lines_ = lines;
    board_.setLines(lines.dtr, lines.rts);
    if (board_.state() != Board::State::RamCode) cpu_.reset();
    if (board_.state() == Board::State::Held) dropOutput();
}

void Simulator::acceptLineClients() {
    for (;;) {
        const int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        // The socket has no file permissions: only our own user (or root) drives the lines.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            (peer.uid != getuid() && peer.uid != 0)) {
            close(fd);
            continue;
        }
        lineClients_.push_back({fd, false, false});
    }
}

// Answers everything the connection sent; false when it ended (then it is closed).
bool Simulator::serveLineClient(LineClient& client) {
    for (;;) {
        char buf[PRAXON_LINES_MAX_MESSAGE];
        const ssize_t n = recv(client.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n > 0) {
            std::string reply;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                reply = lineRequest(client, std::string(buf, size_t(n)));
            }
            const bool sent =
                send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0;
            if (sent && reply != "no") continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (client.holdsOpen && --openCount_ == 0) {
            // The last close: with HUPCL the driver releases DTR and RTS; a break ends anyway.
            termios tio{};
            const bool hupcl = slave_ >= 0 && tcgetattr(slave_, &tio) == 0 && (tio.c_cflag & HUPCL);
            Lines next = lines_;
            next.brk = false;
            if (hupcl) next.dtr = next.rts = false;
            setLines(next);
        }
        close(client.fd);
        return false;
    }
}

// One request of the lines library (LineProtocol.h). Lock held.
std::string Simulator::lineRequest(LineClient& client, const std::string& text) {
    std::vector<std::string> words;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find(' ', at), text.size());
        if (end > at) words.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (words.empty()) return "no";
    const std::string& verb = words[0];
    if (verb == "open" || verb == "attach") {
        if (client.identified || words.size() != 3) return "no";
        char* end = nullptr;
        const uint64_t dev = std::strtoull(words[1].c_str(), &end, 10);
        const uint64_t rdev = std::strtoull(words[2].c_str(), &end, 10);
        if (dev != ptyDev_ || rdev != ptyRdev_) return "no";
        client.identified = true;
        if (verb == "open") {
            // Every open raises DTR and RTS, unless the speed is B0 (hang up).
            client.holdsOpen = true;
            ++openCount_;
            if (ttyBaud(slave_) != 0) setLines({true, true, lines_.brk});
        }
    } else if (!client.identified) {
        return "no";
    } else if (verb == "set") {
        Lines next = lines_;
        for (size_t i = 1; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w.size() != 5 || w[3] != '=' || (w[4] != '0' && w[4] != '1')) return "no";
            const bool on = w[4] == '1';
            const std::string name = w.substr(0, 3);
            if (name == "dtr")
                next.dtr = on;
            else if (name == "rts")
                next.rts = on;
            else if (name == "brk")
                next.brk = on;
            else
                return "no";
        }
        setLines(next);
    } else if (verb != "get") {
        return "no";
    }
    char reply[64];
    std::snprintf(reply, sizeof reply, "ok dtr=%d rts=%d brk=%d", lines_.dtr, lines_.rts,
                  lines_.brk);
    return reply;
}

namespace {

// What the HEX reader refused, worded for the simulator's error output.
std::string imageErrorText(const ImageLoadError& e) {
    switch (e.kind) {
        case ImageLoadError::BadLine: {
            const char* why = "not an Intel HEX record";
            switch (e.lineError) {
                case HexLineError::BadChecksum:
                    why = "bad checksum";
                    break;
                case HexLineError::SegmentLength:
                    why = "bad segment address record";
                    break;
                case HexLineError::StartSegment:
                    why = "start segment address record (not taken)";
                    break;
                case HexLineError::LinearLength:
                    why = "bad linear address record";
                    break;
                case HexLineError::StartLinearLength:
                    why = "bad start linear address record";
                    break;
                case HexLineError::None:
                    why = "too long for an Intel HEX record";
                    break;
                case HexLineError::IllegalFormat:
                    break;
            }
            return "line " + std::to_string(e.lineNumber) + ": " + why;
        }
        case ImageLoadError::NoEndRecord:
            return "no end-of-file record";
        case ImageLoadError::Conflict: {
            char text[64];
            std::snprintf(text, sizeof text, "two values for address 0x%08X", e.address);
            return text;
        }
        default:
            return "not an Intel HEX file";
    }
}

}  // namespace

bool loadImageFile(const std::string& path, uint32_t flashSize, std::vector<uint8_t>* image,
                   std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return fail(std::strerror(errno));
    std::string content;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) content.append(chunk, n);
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) return fail("read error");

    image->clear();
    // The same rule as the programmer's: Intel HEX by content, anything else a raw image.
    if (DetectImageFormat(content) != ImageFormat::Hex) {
        if (content.size() > flashSize) return fail("image larger than the flash");
        image->assign(content.begin(), content.end());
        return true;
    }

    std::istringstream in(content);
    FirmwareImage hex;
    ImageLoadError problem;
    if (!ReadHexImage(in, &hex, &problem) && problem.kind != ImageLoadError::Empty)
        return fail(imageErrorText(problem));
    for (const ImageSegment& segment : hex.segments()) {
        // Addresses below the flash size count as offsets into it.
        const uint32_t offset =
            segment.address >= kFlashBase ? segment.address - kFlashBase : segment.address;
        if (offset >= flashSize || segment.bytes.size() > flashSize - offset) {
            char where[64];
            std::snprintf(where, sizeof where, "data at 0x%08X outside the flash", segment.address);
            return fail(where);
        }
        if (image->size() < offset + segment.bytes.size())
            image->resize(offset + segment.bytes.size(), 0xFF);
        std::copy(segment.bytes.begin(), segment.bytes.end(), image->begin() + offset);
    }
    return true;
}

}  // namespace praxon::sim
