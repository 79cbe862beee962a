#include "simulatedunit.h"

#include <QFile>
#include <QLoggingCategory>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <numeric>
#include <poll.h>
#include <random>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// What the unit receives, answers and spoils on purpose. Off unless asked for
// (QT_LOGGING_RULES="talvo.sim.debug=true", or talvo-sim --verbose), so that the tests' own log
// stays the host's alone.
Q_LOGGING_CATEGORY(lcSim, "talvo.sim", QtInfoMsg)

namespace {

const QByteArray PROGRAMMING_REQUEST("\x7D\x7D\x01", 3);
const quint8 BSL_HEADER = 0x80;
const quint8 BSL_MESSAGE_REPLY = 0x3B;
const quint8 QS_FRAME = 0x7E;
const quint8 NO_ACK = 0xFF; // recorded for frames that got no acknowledgement at all
const int MAX_FRAMES_KEPT = 20000;
const int MAX_BYTES_KEPT = 8 * 1024 * 1024;
const qint64 NS_PER_MS = 1000000;
const qint64 BABBLE_TICK_NS = NS_PER_MS;
const qint64 HANG_UP_DRAIN_NS = 50 * NS_PER_MS;
// The host writes a programming-mode request in one piece: a start of one that is not completed
// within this time is taken as loose bytes.
const qint64 REQUEST_GAP_NS = 10 * NS_PER_MS;

// The places of line faults, by LineFault::Where, as --line-fault names them.
const char *const WHERE_NAMES[] = {"host", "ack", "reply", "hsrequest", "hsreply"};
static_assert(std::size(WHERE_NAMES) == SimulatedUnit::LineFault::HandshakeReply + 1,
              "a name for every place");

const char *faultName(SimulatedUnit::FrameFault::Kind kind)
{
    static const char *const names[] = {"refused",         "corrupt acknowledgement",
                                        "silence",         "late reply",
                                        "message reply",   "reply bytes",
                                        "hang-up",         "babble",
                                        "stored bit flip", "noise"};
    static_assert(std::size(names) == SimulatedUnit::FrameFault::Noise + 1, "a name for every kind");
    return names[kind];
}

qint64 nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

timespec toTimespec(qint64 ns)
{
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

void appendCapped(QByteArray &log, const QByteArray &bytes)
{
    // Trimmed in large steps, so that an endless stream does not move megabytes per byte.
    log.append(bytes);
    if (log.size() > MAX_BYTES_KEPT + MAX_BYTES_KEPT / 4)
        log.remove(0, log.size() - MAX_BYTES_KEPT);
}

// Copies that share nothing with the serving thread's buffers: handing out implicitly shared data
// would leave its reference count as the only link between the threads.
QByteArray deepCopy(const QByteArray &bytes)
{
    return QByteArray(bytes.constData(), bytes.size());
}

// The 24-bit address of a data block or CRC check, low byte first after the command.
quint32 coreAddress(const QByteArray &core)
{
    return quint32(quint8(core.at(1))) | (quint32(quint8(core.at(2))) << 8) |
           (quint32(quint8(core.at(3))) << 16);
}

bool setRaw(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

SimulatedUnit::SimulatedUnit() : _memory(MEMORY_SIZE, 0xFF), _written(MEMORY_SIZE, false)
{
    loadDefaultFirmware();
}

SimulatedUnit::~SimulatedUnit()
{
    stop();
}

// ---------------------------------------------------------------------------------------------------
// Life cycle

bool SimulatedUnit::start()
{
    if (_thread.joinable())
        return true;
    closeFds();
    _errorString.clear();

    const QString memoryPath = memoryFile();
    if (!memoryPath.isEmpty()) {
        QFile file(memoryPath);
        if (file.exists()) {
            if (!file.open(QIODevice::ReadOnly) || file.size() != qint64(MEMORY_SIZE)) {
                _errorString =
                    QStringLiteral("cannot load the memory from %1: %2")
                        .arg(memoryPath, file.isOpen() ? QStringLiteral("not %1 bytes").arg(MEMORY_SIZE)
                                                       : file.errorString());
                return false;
            }
            const QByteArray image = file.readAll();
            std::lock_guard<std::mutex> lock(_mutex);
            std::copy(image.cbegin(), image.cend(), _memory.begin());
            std::fill(_written.begin(), _written.end(), false);
        }
        // From now on the file always holds a whole image, also when this process is killed.
        if (!saveMemory()) {
            _errorString = QStringLiteral("cannot write the memory to %1").arg(memoryPath);
            return false;
        }
    }
    _memoryChangesSaved = _memoryChanges;

    if (!_devicePath.isEmpty()) {
        if (!openDevice() || pipe2(_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
            _errorString = QStringLiteral("cannot serve %1: %2")
                               .arg(_devicePath, QString::fromLocal8Bit(strerror(errno)));
            closeFds();
            return false;
        }
        _portPath = _devicePath;
    } else {
        _master = posix_openpt(O_RDWR | O_NOCTTY);
        if (_master < 0 || grantpt(_master) != 0 || unlockpt(_master) != 0) {
            _errorString = QStringLiteral("cannot open a pseudo-terminal: %1")
                               .arg(QString::fromLocal8Bit(strerror(errno)));
            closeFds();
            return false;
        }
        char name[128];
        if (ptsname_r(_master, name, sizeof name) != 0) {
            _errorString = QStringLiteral("ptsname failed");
            closeFds();
            return false;
        }
        _slave = open(name, O_RDWR | O_NOCTTY);
        // Raw on both sides before anything flows: a slave in its default cooked mode would echo what
        // the unit sends back to the unit.
        if (_slave < 0 || !setRaw(_slave) || !setRaw(_master) || pipe2(_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
            _errorString = QStringLiteral("cannot set up %1: %2")
                               .arg(QString::fromLocal8Bit(name), QString::fromLocal8Bit(strerror(errno)));
            closeFds();
            return false;
        }
        fcntl(_master, F_SETFL, fcntl(_master, F_GETFL) | O_NONBLOCK);
        fcntl(_master, F_SETFD, FD_CLOEXEC);
        fcntl(_slave, F_SETFD, FD_CLOEXEC);
        _portPath = QString::fromLocal8Bit(name);
    }

    {
        // Without a reset vector there is no application to start: the unit comes up in its loader.
        std::lock_guard<std::mutex> lock(_mutex);
        if (!hasApplicationLocked()) {
            _mode = Mode::Loader;
            _locked = true;
        }
    }
    forgetLineInput();
    _lineInFreeNs = _lineOutFreeNs = _lastRxNs = _lastHostByteNs = 0;
    _noiseEndNs = 0;
    _stopRequested = false;
    _hangUpRequested = false;
    _parserReset = false;
    _running = true;
    _thread = std::thread([this] { run(); });
    qCDebug(lcSim, "serving on %s", qPrintable(_portPath));
    return true;
}

void SimulatedUnit::stop()
{
    endServing(_stopRequested);
}

void SimulatedUnit::hangUp()
{
    endServing(_hangUpRequested);
}

// The serving thread leaves on `request`; what it leaves in memory is saved before the port closes.
void SimulatedUnit::endServing(std::atomic<bool> &request)
{
    if (_thread.joinable()) {
        request = true;
        notify();
        _thread.join();
        saveMemory();
    }
    closeFds();
}

bool SimulatedUnit::isRunning() const
{
    return _running;
}

QString SimulatedUnit::portPath() const
{
    return _portPath;
}

QString SimulatedUnit::errorString() const
{
    return _errorString;
}

void SimulatedUnit::setDevicePath(const QString &path)
{
    _devicePath = path;
}

bool SimulatedUnit::openDevice()
{
    _master = ::open(QFile::encodeName(_devicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (_master >= 0 && setRaw(_master))
        return true;
    const int error = errno;
    if (_master >= 0)
        ::close(_master);
    _master = -1;
    errno = error;
    return false;
}

// The device hung up: the unit is without power until the device opens again, then starts afresh
// from what its memory holds.
bool SimulatedUnit::powerCycle()
{
    ::close(_master);
    _master = -1;
    saveMemory();
    qCDebug(lcSim, "%s hung up", qPrintable(_devicePath));
    // A moment without power each time: a device that hangs up at once is not opened in a busy loop.
    do {
        if (!sleepUntil(nowNs() + 20 * NS_PER_MS))
            return false;
    } while (!openDevice());
    bool application;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        application = hasApplicationLocked();
    }
    setMode(application ? Mode::Application : Mode::Loader);
    forgetLineInput();
    ++_powerCycles;
    qCDebug(lcSim, "%s open again, unit in its %s", qPrintable(_devicePath),
            application ? "application" : "loader");
    return true;
}

void SimulatedUnit::closeFds()
{
    for (int *fd : {&_master, &_slave, &_wake[0], &_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void SimulatedUnit::notify()
{
    if (_wake[1] >= 0) {
        const char byte = 1;
        ssize_t ignored = ::write(_wake[1], &byte, 1);
        (void)ignored;
    }
}

void SimulatedUnit::doHangUp()
{
    // Closing the master hangs the slave up: the host's reads see end of file, its writes fail.
    // The hang-up also discards what the host has not read yet, so bytes already sent are first
    // given a moment to be taken, as they would have reached the host before a cable is pulled.
    _running = false;
    if (_master >= 0 && _slave >= 0) {
        // Delivery into the slave's queue is asynchronous: wait until bytes have been seen there and
        // taken again, or until the bound runs out.
        const qint64 start = nowNs();
        bool seen = false;
        int waiting = 0;
        while (nowNs() - start < HANG_UP_DRAIN_NS && ioctl(_slave, FIONREAD, &waiting) == 0) {
            if (waiting > 0)
                seen = true;
            else if (seen)
                break;
            const timespec pause = toTimespec(NS_PER_MS / 4);
            nanosleep(&pause, nullptr);
        }
    }
    if (_master >= 0)
        ::close(_master);
    _master = -1;
    if (_slave >= 0)
        ::close(_slave);
    _slave = -1;
    _hangUpRequested = true;
    qCDebug(lcSim, "line hung up");
    saveMemory();
}

// ---------------------------------------------------------------------------------------------------
// Settings

void SimulatedUnit::setHandshake(const Handshake &handshake)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _handshake = handshake;
    _handshake.versionText = deepCopy(handshake.versionText);
    _handshake.rawReply = deepCopy(handshake.rawReply);
}

SimulatedUnit::Handshake SimulatedUnit::handshake() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    Handshake copy = _handshake;
    copy.versionText = deepCopy(_handshake.versionText);
    copy.rawReply = deepCopy(_handshake.rawReply);
    return copy;
}

void SimulatedUnit::setVersionText(const QByteArray &text)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _handshake.versionText = deepCopy(text);
}

void SimulatedUnit::setTiming(const Timing &timing)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _timing = timing;
}

void SimulatedUnit::setPaced(bool paced)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _timing.paced = paced;
}

void SimulatedUnit::setPasswordPolicy(PasswordPolicy policy)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _passwordPolicy = policy;
}

void SimulatedUnit::setMaxCoreSize(int bytes)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _maxCoreSize = std::max(1, bytes);
}

void SimulatedUnit::setAnswersHandshakeInLoader(bool answers)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _answersHandshakeInLoader = answers;
}

void SimulatedUnit::setKnowsCrcCheck(bool knows)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _knowsCrcCheck = knows;
}

void SimulatedUnit::addFrameFault(const FrameFault &fault)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _faults.append(fault);
    _faults.last().replyBytes = deepCopy(fault.replyBytes);
}

void SimulatedUnit::clearFrameFaults()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _faults.clear();
}

void SimulatedUnit::addLineFault(const LineFault &fault)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _lineFaults.append(fault);
}

void SimulatedUnit::clearLineFaults()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _lineFaults.clear();
}

bool SimulatedUnit::LineFault::applyTo(QByteArray &bytes) const
{
    const int at = offset < 0 ? bytes.size() + offset : offset;
    if (at < 0 || at > bytes.size() || (at == bytes.size() && kind != Insert))
        return false;
    switch (kind) {
    case Flip:
        bytes[at] = char(quint8(bytes.at(at)) ^ value);
        break;
    case Drop:
        bytes.remove(at, 1);
        break;
    case Insert:
        bytes.insert(at, char(value));
        break;
    }
    return true;
}

int SimulatedUnit::commandCode(const QString &name)
{
    if (name == QLatin1String("password"))
        return CMD_RX_PASSWORD;
    if (name == QLatin1String("erase"))
        return CMD_MASS_ERASE;
    if (name == QLatin1String("block"))
        return CMD_RX_DATA_BLOCK;
    if (name == QLatin1String("any"))
        return -1;
    bool ok = false;
    const int code = name.toInt(&ok, 0); // such as 0x16
    return ok && code >= 0 && code <= 0xFF ? code : -2;
}

bool SimulatedUnit::LineFault::parse(const QString &text, LineFault *fault)
{
    const QStringList halves = text.split(QLatin1Char('/'));
    if (halves.size() != 2)
        return false;

    const QStringList place = halves.at(0).split(QLatin1Char(':'));
    if (place.size() != 2)
        return false;
    const QStringList target = place.at(0).split(QLatin1Char('@'));
    const auto where = std::find_if(std::cbegin(WHERE_NAMES), std::cend(WHERE_NAMES),
                                    [&](const char *name) { return target.at(0) == QLatin1String(name); });
    if (where == std::cend(WHERE_NAMES) || target.size() > 2)
        return false;
    fault->where = LineFault::Where(where - std::cbegin(WHERE_NAMES));
    const bool handshake =
        fault->where == LineFault::HandshakeRequest || fault->where == LineFault::HandshakeReply;
    if (target.size() == 2 && handshake)
        return false;
    fault->command = target.size() == 2 ? commandCode(target.at(1)) : -1;
    bool ok = false;
    fault->occurrence = place.at(1).toInt(&ok);
    if (fault->command < -1 || !ok || fault->occurrence < 1)
        return false;

    const QStringList change = halves.at(1).split(QLatin1Char('='));
    if (change.size() > 2)
        return false;
    const QStringList kindAt = change.at(0).split(QLatin1Char('@'));
    const QString kind = kindAt.at(0);
    if (kind == QLatin1String("flip"))
        fault->kind = LineFault::Flip;
    else if (kind == QLatin1String("drop"))
        fault->kind = LineFault::Drop;
    else if (kind == QLatin1String("insert"))
        fault->kind = LineFault::Insert;
    else
        return false;
    fault->offset = 0;
    if (kindAt.size() > 2 || (kindAt.size() == 2 && (fault->offset = kindAt.at(1).toInt(&ok), !ok)))
        return false;
    fault->value = 0x80;
    if (change.size() == 2) {
        const uint value = change.at(1).toUInt(&ok, 16);
        if (!ok || value > 0xFF || fault->kind == LineFault::Drop)
            return false;
        fault->value = quint8(value);
    }
    return true;
}

void SimulatedUnit::setSilent(bool silent)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _silent = silent;
}

void SimulatedUnit::setChatter(const QByteArray &bytes, int periodMs)
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _chatter = deepCopy(bytes);
        _chatterPeriodMs = std::max(1, periodMs);
    }
    notify();
}

void SimulatedUnit::setBabbling(bool babbling, const QByteArray &pattern)
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _babbling = babbling;
        _babblePattern = pattern.isEmpty() ? QByteArray(1, '\x55') : deepCopy(pattern);
    }
    notify();
}

void SimulatedUnit::setMode(Mode mode)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _mode = mode;
    _locked = true;
    _parserReset = true;
}

// ---------------------------------------------------------------------------------------------------
// Memory

QByteArray SimulatedUnit::memory(quint32 address, int length) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    QByteArray bytes(std::max(0, length), '\xFF');
    for (int i = 0; i < bytes.size(); ++i) {
        const quint64 at = quint64(address) + quint64(i);
        if (at < MEMORY_SIZE)
            bytes[i] = char(_memory[at]);
    }
    return bytes;
}

void SimulatedUnit::eraseLocked()
{
    std::fill(_memory.begin(), _memory.end(), quint8(0xFF));
    std::fill(_written.begin(), _written.end(), false);
    ++_memoryChanges;
}

void SimulatedUnit::eraseMemory()
{
    std::lock_guard<std::mutex> lock(_mutex);
    eraseLocked();
}

void SimulatedUnit::loadMemory(quint32 address, const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (int i = 0; i < bytes.size(); ++i) {
        const quint64 at = quint64(address) + quint64(i);
        if (at < MEMORY_SIZE)
            _memory[at] = quint8(bytes[i]);
    }
    ++_memoryChanges;
}

void SimulatedUnit::loadDefaultFirmware()
{
    QByteArray code(512, '\0');
    for (int i = 0; i < code.size(); ++i)
        code[i] = char((i * 7 + 3) & 0xFF);
    QByteArray vectors;
    for (int i = 0; i < PASSWORD_SIZE / 2; ++i)
        vectors.append('\x00').append('\x5C'); // every vector points at 0x5C00
    eraseMemory();
    loadMemory(0x5C00, code);
    loadMemory(VECTORS_ADDRESS, vectors);
}

void SimulatedUnit::setMemoryFile(const QString &path)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _memoryFile = QString(path.constData(), path.size());
}

QString SimulatedUnit::memoryFile() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return QString(_memoryFile.constData(), _memoryFile.size());
}

bool SimulatedUnit::saveMemory()
{
    QString path;
    std::vector<quint8> image;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_memoryFile.isEmpty())
            return true;
        path = QString(_memoryFile.constData(), _memoryFile.size());
        image = _memory;
    }
    // A whole image under a temporary name first: a process killed while writing leaves the file as
    // it was, and the rename replaces it in one step.
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".part";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < image.size()) {
        const ssize_t n = ::write(fd, image.data() + done, image.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    const bool written = ::close(fd) == 0 && done == image.size();
    if (!written || ::rename(temporary.constData(), target.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

// What the line had brought in and not yet handled: gone when the unit starts or loses power.
void SimulatedUnit::forgetLineInput()
{
    _rx.clear();
    _requestScan.clear();
    _hostBytes.clear();
    _hostArrivalNs.clear();
    _holdingHostBytes = false;
    _hostFrameSize = 0;
}

bool SimulatedUnit::hasApplicationLocked() const
{
    return _memory[RESET_VECTOR_ADDRESS] != 0xFF || _memory[RESET_VECTOR_ADDRESS + 1] != 0xFF;
}

bool SimulatedUnit::holdsFirmware() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return std::any_of(_memory.begin() + VECTORS_ADDRESS, _memory.begin() + VECTORS_ADDRESS + PASSWORD_SIZE,
                       [](quint8 b) { return b != 0xFF; });
}

QVector<SimulatedUnit::Range> SimulatedUnit::writtenRanges() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    QVector<Range> ranges;
    quint32 at = 0;
    while (at < MEMORY_SIZE) {
        if (!_written[at]) {
            ++at;
            continue;
        }
        Range range;
        range.address = at;
        while (at < MEMORY_SIZE && _written[at])
            ++at;
        range.length = at - range.address;
        ranges.append(range);
    }
    return ranges;
}

// ---------------------------------------------------------------------------------------------------
// Introspection

int SimulatedUnit::framesReceived(int command) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return command < 0 ? _framesAll : _frameCount[command & 0xFF];
}

QVector<SimulatedUnit::Frame> SimulatedUnit::frames() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    QVector<Frame> copy;
    copy.reserve(_frames.size());
    for (const Frame &frame : _frames)
        copy.append(Frame{deepCopy(frame.bytes), frame.ack});
    return copy;
}

void SimulatedUnit::resetCounters()
{
    std::lock_guard<std::mutex> lock(_mutex);
    std::fill(std::begin(_frameCount), std::end(_frameCount), 0);
    std::fill(std::begin(_occurrences), std::end(_occurrences), 0);
    std::fill(std::begin(_hostOccurrences), std::end(_hostOccurrences), 0);
    _framesAll = _occurrencesAll = _badFrames = _handshakes = 0;
    _hostOccurrencesAll = _hostRequests = _lineFaultsApplied = 0;
    _passwords = _passwordsAccepted = _massErases = _blocks = 0;
    _lastPassword.clear();
    _frames.clear();
    _received.clear();
    _sent.clear();
}

QByteArray SimulatedUnit::readGuarded(const QByteArray &member) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return deepCopy(member);
}

bool SimulatedUnit::waitForFrames(int command, int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return (command < 0 ? _framesAll : _frameCount[command & 0xFF]) >= count;
    });
}

bool SimulatedUnit::waitForHandshakes(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return _handshakes >= count; });
}

// ---------------------------------------------------------------------------------------------------
// Frames and checksum

quint16 SimulatedUnit::crc16(const QByteArray &core, quint16 initial)
{
    quint16 crc = initial;
    for (char c : core) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QByteArray SimulatedUnit::frame(const QByteArray &core)
{
    const quint16 crc = crc16(core);
    QByteArray bytes;
    bytes.append(char(BSL_HEADER)).append(char(core.size() & 0xFF)).append(char((core.size() >> 8) & 0xFF));
    bytes.append(core);
    bytes.append(char(crc & 0xFF)).append(char(crc >> 8));
    return bytes;
}

QByteArray SimulatedUnit::dataReply(const QByteArray &data)
{
    return frame(QByteArray(1, char(0x3A)) + data);
}

QByteArray SimulatedUnit::messageReply(quint8 code)
{
    QByteArray reply = frame(QByteArray(1, char(BSL_MESSAGE_REPLY)) + char(code));
    reply[1] = 0x02; // the same layout as a frame: header, length 2, core 3B code, checksum
    return reply;
}

// ---------------------------------------------------------------------------------------------------
// Serving thread

void SimulatedUnit::run()
{
    qint64 nextChatterNs = nowNs();
    qint64 babbleStartNs = 0;
    qint64 babbleSent = 0;
    bool wasBabbling = false;
    char buffer[4096];

    while (!_stopRequested && !_hangUpRequested) {
        const qint64 now = nowNs();
        qint64 deadline = -1;
        bool chatter, babbling;
        QByteArray chatterBytes, pattern;
        int chatterPeriodMs, frameTimeoutMs;
        qint64 byteTimeNs;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            babbling = _babbling;
            pattern = _babblePattern;
            chatter = _mode == Mode::Application && !_chatter.isEmpty() && !_silent && !babbling;
            chatterBytes = _chatter;
            chatterPeriodMs = _chatterPeriodMs;
            frameTimeoutMs = _timing.frameTimeoutMs;
            byteTimeNs = std::max<qint64>(1000, _timing.byteTimeNs);
        }

        if (babbling) {
            // An endless stream at line speed: whatever is due by now goes out; what the line
            // cannot take is lost, as on a real line nobody reads.
            if (!wasBabbling) {
                babbleStartNs = now;
                babbleSent = 0;
            }
            qint64 due = std::min<qint64>((now - babbleStartNs) / byteTimeNs - babbleSent, 4096);
            QByteArray chunk;
            for (qint64 i = 0; i < due; ++i)
                chunk.append(pattern.at(int((babbleSent + i) % pattern.size())));
            if (!chunk.isEmpty()) {
                const ssize_t n = ::write(_master, chunk.constData(), size_t(chunk.size()));
                if (n > 0) {
                    std::lock_guard<std::mutex> lock(_mutex);
                    appendCapped(_sent, chunk.left(int(n)));
                }
                babbleSent += due;
            }
            deadline = now + BABBLE_TICK_NS;
        }
        wasBabbling = babbling;

        if (_noiseEndNs > 0) {
            // Like a babble, lost where the line cannot take it; acknowledgements and replies go out
            // in between.
            const qint64 due = std::min<qint64>(
                (std::min(now, _noiseEndNs) - _noiseStartNs) / byteTimeNs - _noiseSent, 4096);
            const QByteArray chunk = takeNoise(due);
            if (!chunk.isEmpty()) {
                const ssize_t n = ::write(_master, chunk.constData(), size_t(chunk.size()));
                if (n > 0) {
                    std::lock_guard<std::mutex> lock(_mutex);
                    appendCapped(_sent, chunk.left(int(n)));
                }
            }
            if (now >= _noiseEndNs)
                _noiseEndNs = 0;
            else
                deadline = deadline < 0 ? now + BABBLE_TICK_NS : std::min(deadline, now + BABBLE_TICK_NS);
        }

        if (chatter) {
            if (now >= nextChatterNs) {
                if (!send(chatterBytes, now))
                    continue;
                nextChatterNs = nowNs() + chatterPeriodMs * NS_PER_MS;
            }
            deadline = deadline < 0 ? nextChatterNs : std::min(deadline, nextChatterNs);
        } else {
            nextChatterNs = now;
        }

        if (_memoryChanges != _memoryChangesSaved) {
            _memoryChangesSaved = _memoryChanges;
            saveMemory();
        }

        // Bytes of the host held back for a line fault, when the host stops half way: to the loader
        // as they came, where they meet its frame time-out. A start of a request is let go sooner.
        if (!_hostBytes.isEmpty()) {
            const bool request = quint8(_hostBytes.at(0)) != BSL_HEADER;
            const qint64 holdLimit =
                _lastHostByteNs +
                (request ? REQUEST_GAP_NS : qint64(frameTimeoutMs > 0 ? frameTimeoutMs : 250) * NS_PER_MS);
            if (now >= holdLimit) {
                flushHeldHostBytes();
                continue;
            }
            if (_holdingHostBytes || request)
                deadline = deadline < 0 ? holdLimit : std::min(deadline, holdLimit);
        }
        // The loader answers a byte that cannot start a frame as it arrives; a start of a request,
        // which the loader looks for between frames, is not kept from it for long.
        if (!_requestScan.isEmpty() && _rx.isEmpty() && mode() == Mode::Loader &&
            PROGRAMMING_REQUEST.startsWith(_requestScan)) {
            const qint64 scanLimit = _lastHostByteNs + REQUEST_GAP_NS;
            if (now >= scanLimit) {
                const QByteArray pending = _requestScan;
                _requestScan.clear();
                for (char c : pending)
                    handleLoaderByte(quint8(c), now);
                continue;
            }
            deadline = deadline < 0 ? scanLimit : std::min(deadline, scanLimit);
        }

        if (!_rx.isEmpty() && frameTimeoutMs > 0) {
            const qint64 frameDeadline = _lastRxNs + frameTimeoutMs * NS_PER_MS;
            if (now >= frameDeadline) {
                rejectFrame(ACK_UNKNOWN_ERROR, now);
                continue;
            }
            deadline = deadline < 0 ? frameDeadline : std::min(deadline, frameDeadline);
        }

        pollfd fds[2] = {{_master, POLLIN, 0}, {_wake[0], POLLIN, 0}};
        timespec timeout;
        if (deadline >= 0)
            timeout = toTimespec(std::max<qint64>(0, deadline - nowNs()));
        const int ready = ppoll(fds, 2, deadline >= 0 ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(_wake[0], drain, sizeof drain) > 0) {
            }
        }
        // Only a device hangs up here: the pty's slave side is held open.
        if (!_devicePath.isEmpty() && (fds[0].revents & (POLLHUP | POLLERR))) {
            if (!powerCycle())
                break;
            continue;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::read(_master, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                sleepUntil(nowNs() + NS_PER_MS); // no reader on the other side: do not spin
            continue;
        }
        const qint64 readNs = nowNs();
        bool paced;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            appendCapped(_received, QByteArray(buffer, int(n)));
            paced = _timing.paced;
        }
        for (ssize_t i = 0; i < n && !_stopRequested && !_hangUpRequested; ++i) {
            // On a paced line a byte has arrived only once its character time is over.
            qint64 arrival = readNs;
            if (paced) {
                arrival = std::max(readNs, _lineInFreeNs) + byteTimeNs;
                _lineInFreeNs = arrival;
            }
            receiveByte(quint8(buffer[i]), arrival);
            if (_memoryChanges != _memoryChangesSaved) {
                // Before the next frame is taken: a process killed later loses at most that frame.
                _memoryChangesSaved = _memoryChanges;
                saveMemory();
            }
        }
        _lastHostByteNs = nowNs();
    }
    if (_hangUpRequested)
        doHangUp();
    _running = false;
}

// The host's byte stream, followed as the host sent it: in loader mode a frame begins with 80 where
// no frame or request is under way, and its length bytes give its size; in either mode 7D 7D 01 is
// a programming-mode request. A byte goes to the unit (handleByte()) at once, unless a line fault
// for a host frame or request is waiting: then the host's whole frame or request is held back, the
// fault applied when it matches, and the result passed on with the bytes' arrival times.
void SimulatedUnit::receiveByte(quint8 byte, qint64 arrivalNs)
{
    Mode mode;
    bool frameFaultWaits = false, requestFaultWaits = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        mode = _mode;
        for (const LineFault &fault : _lineFaults) {
            frameFaultWaits = frameFaultWaits || fault.where == LineFault::HostFrame;
            requestFaultWaits = requestFaultWaits || fault.where == LineFault::HandshakeRequest;
        }
    }
    if (_parserReset && !_hostBytes.isEmpty())
        flushHeldHostBytes();

    if (!_hostBytes.isEmpty() && quint8(_hostBytes.at(0)) != BSL_HEADER &&
        !PROGRAMMING_REQUEST.startsWith(_hostBytes + char(byte)))
        flushHeldHostBytes(); // not a request after all; the byte is looked at afresh

    if (_hostBytes.isEmpty()) {
        if (mode == Mode::Loader && byte == BSL_HEADER)
            _holdingHostBytes = frameFaultWaits;
        else if (byte == quint8(PROGRAMMING_REQUEST.at(0)))
            _holdingHostBytes = requestFaultWaits;
        else {
            handleByte(byte, arrivalNs);
            return;
        }
        _hostFrameSize = 0;
    }
    _hostBytes.append(char(byte));
    _hostArrivalNs.append(arrivalNs);
    if (!_holdingHostBytes)
        handleByte(byte, arrivalNs);

    QByteArray whole;
    if (quint8(_hostBytes.at(0)) == BSL_HEADER) {
        if (_hostBytes.size() == 3) {
            const int length = quint8(_hostBytes.at(1)) | (quint8(_hostBytes.at(2)) << 8);
            _hostFrameSize = length == 0 ? 3 : 3 + length + 2;
        }
        if (_hostBytes.size() != _hostFrameSize)
            return;
        whole = _hostBytes;
        if (_hostFrameSize > 3) {
            const int command = quint8(whole.at(3));
            int occurrence, allOccurrence;
            {
                std::lock_guard<std::mutex> lock(_mutex);
                occurrence = ++_hostOccurrences[command];
                allOccurrence = ++_hostOccurrencesAll;
            }
            if (_holdingHostBytes)
                takeLineFault(LineFault::HostFrame, command, occurrence, allOccurrence, whole);
        }
    } else {
        if (_hostBytes.size() != PROGRAMMING_REQUEST.size())
            return;
        whole = _hostBytes;
        int occurrence;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            occurrence = ++_hostRequests;
        }
        if (_holdingHostBytes)
            takeLineFault(LineFault::HandshakeRequest, -1, occurrence, occurrence, whole);
    }

    const bool held = _holdingHostBytes;
    QVector<qint64> arrivals = _hostArrivalNs;
    _hostBytes.clear();
    _hostArrivalNs.clear();
    _holdingHostBytes = false;
    if (held)
        feedHostBytes(whole, arrivals);
}

// Passes held bytes on; after an insertion or a drop the times shift with the bytes, an inserted byte
// arriving with the one after it (or the last one).
void SimulatedUnit::feedHostBytes(const QByteArray &bytes, const QVector<qint64> &arrivalNs)
{
    for (int i = 0; i < bytes.size() && !_stopRequested && !_hangUpRequested; ++i)
        handleByte(quint8(bytes.at(i)), arrivalNs.value(i, arrivalNs.isEmpty() ? nowNs() : arrivalNs.last()));
}

void SimulatedUnit::flushHeldHostBytes()
{
    const QByteArray bytes = _hostBytes;
    const QVector<qint64> arrivals = _hostArrivalNs;
    const bool held = _holdingHostBytes;
    _hostBytes.clear();
    _hostArrivalNs.clear();
    _holdingHostBytes = false;
    if (held)
        feedHostBytes(bytes, arrivals);
}

// Applies and uses up every waiting line fault for this place and occurrence; true when one changed
// the bytes.
bool SimulatedUnit::takeLineFault(LineFault::Where where, int command, int occurrence, int allOccurrence,
                                  QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(_mutex);
    bool changed = false;
    for (int i = 0; i < _lineFaults.size();) {
        const LineFault &fault = _lineFaults.at(i);
        const int n = fault.command < 0 ? allOccurrence : (fault.command == command ? occurrence : -1);
        if (fault.where != where || n != fault.occurrence) {
            ++i;
            continue;
        }
        if (fault.applyTo(bytes)) {
            changed = true;
            ++_lineFaultsApplied;
            qCDebug(lcSim, "line fault applied: %s, occurrence %d", WHERE_NAMES[where], n);
        }
        _lineFaults.remove(i);
    }
    return changed;
}

void SimulatedUnit::handleByte(quint8 byte, qint64 arrivalNs)
{
    if (_parserReset.exchange(false)) {
        _rx.clear();
        _requestScan.clear();
    }
    Mode mode;
    bool ignore, answersInLoader;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        // A reset of a unit without its application (the request restarts the unit) ends in the
        // loader again, which takes the request for bytes of a frame.
        const bool application = hasApplicationLocked();
        if (_mode == Mode::Application && !application) {
            _mode = Mode::Loader;
            _locked = true;
        }
        mode = _mode;
        ignore = _silent || _babbling;
        answersInLoader = _answersHandshakeInLoader && application;
    }
    if (ignore)
        return;

    if (mode == Mode::Application) {
        _requestScan.append(char(byte));
        if (_requestScan.size() > PROGRAMMING_REQUEST.size())
            _requestScan.remove(0, _requestScan.size() - PROGRAMMING_REQUEST.size());
        if (_requestScan == PROGRAMMING_REQUEST) {
            _requestScan.clear();
            answerHandshake(arrivalNs);
        }
        return;
    }

    // The loader: a programming-mode request between frames restarts the unit's handshake, as
    // after a reset; any other byte belongs to the loader's framing.
    if (_rx.isEmpty() && answersInLoader && (byte == PROGRAMMING_REQUEST.at(0) || !_requestScan.isEmpty())) {
        _requestScan.append(char(byte));
        if (PROGRAMMING_REQUEST.startsWith(_requestScan)) {
            if (_requestScan.size() == PROGRAMMING_REQUEST.size()) {
                _requestScan.clear();
                answerHandshake(arrivalNs);
            }
            return;
        }
        const QByteArray pending = _requestScan;
        _requestScan.clear();
        for (char c : pending)
            handleLoaderByte(quint8(c), arrivalNs);
        return;
    }
    handleLoaderByte(byte, arrivalNs);
}

void SimulatedUnit::handleLoaderByte(quint8 byte, qint64 arrivalNs)
{
    _lastRxNs = arrivalNs;
    if (_rx.isEmpty() && byte != BSL_HEADER) {
        _rx.append(char(byte));
        rejectFrame(ACK_HEADER_INCORRECT, arrivalNs);
        return;
    }
    _rx.append(char(byte));
    if (_rx.size() < 3)
        return;
    const int length = quint8(_rx.at(1)) | (quint8(_rx.at(2)) << 8);
    if (_rx.size() == 3) {
        int maxCore;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            maxCore = _maxCoreSize;
        }
        if (length == 0)
            rejectFrame(ACK_PACKET_SIZE_ZERO, arrivalNs);
        else if (length > maxCore)
            rejectFrame(ACK_PACKET_SIZE_TOO_BIG, arrivalNs);
        return;
    }
    if (_rx.size() == 3 + length + 2)
        handleFrame(arrivalNs);
}

void SimulatedUnit::trimFrames()
{
    if (_frames.size() >= MAX_FRAMES_KEPT + MAX_FRAMES_KEPT / 4)
        _frames.remove(0, _frames.size() - MAX_FRAMES_KEPT);
}

void SimulatedUnit::rejectFrame(quint8 ack, qint64 arrivalNs)
{
    const QByteArray raw = _rx;
    _rx.clear();
    qCDebug(lcSim, "malformed frame of %d bytes, acknowledged 0x%02X", int(raw.size()), ack);
    {
        // Counted before the answer goes out, so a host that has read it sees the count.
        std::lock_guard<std::mutex> lock(_mutex);
        ++_badFrames;
        trimFrames();
        _frames.append(Frame{raw, ack});
        _changed.notify_all();
    }
    send(QByteArray(1, char(ack)), arrivalNs);
}

const SimulatedUnit::FrameFault *SimulatedUnit::matchFault(int command, int occurrence,
                                                           int allOccurrence) const
{
    for (const FrameFault &fault : _faults) {
        const int n = fault.command < 0 ? allOccurrence : (fault.command == command ? occurrence : -1);
        if (n < fault.first)
            continue;
        if (fault.count < 0 || n < fault.first + fault.count)
            return &fault;
    }
    return nullptr;
}

void SimulatedUnit::handleFrame(qint64 arrivalNs)
{
    const int length = quint8(_rx.at(1)) | (quint8(_rx.at(2)) << 8);
    const QByteArray core = _rx.mid(3, length);
    const quint16 received = quint16(quint8(_rx.at(3 + length)) | (quint8(_rx.at(4 + length)) << 8));
    if (crc16(core) != received) {
        rejectFrame(ACK_CHECKSUM_INCORRECT, arrivalNs);
        return;
    }
    const QByteArray raw = _rx;
    _rx.clear();
    const int command = quint8(core.at(0));

    bool hasFault = false;
    FrameFault fault;
    int workUsDefault;
    int frameIndex;
    int occurrence, allOccurrence;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        occurrence = ++_occurrences[command];
        allOccurrence = ++_occurrencesAll;
        if (const FrameFault *found = matchFault(command, occurrence, allOccurrence)) {
            hasFault = true;
            fault = *found;
        }
        workUsDefault = _timing.commandUs;
        trimFrames();
        _frames.append(Frame{raw, NO_ACK});
        frameIndex = _frames.size() - 1;
    }
    if (hasFault)
        qCDebug(lcSim, "frame 0x%02X #%d: %s", command, occurrence, faultName(fault.kind));
    else
        qCDebug(lcSim, "frame 0x%02X #%d", command, occurrence);
    // Records the frame as handled: counters, the acknowledgement it got, waiters woken.
    auto finish = [&](quint8 ack) {
        std::lock_guard<std::mutex> lock(_mutex);
        if (frameIndex < _frames.size() && _frames[frameIndex].bytes == raw)
            _frames[frameIndex].ack = ack;
        ++_frameCount[command];
        ++_framesAll;
        _changed.notify_all();
    };

    if (hasFault && fault.kind == FrameFault::HangUp) {
        finish(NO_ACK);
        doHangUp();
        return;
    }
    if (hasFault && fault.kind == FrameFault::Silence) {
        finish(NO_ACK);
        return;
    }
    if (hasFault && fault.kind == FrameFault::Babble) {
        finish(NO_ACK);
        setBabbling(true, fault.replyBytes.isEmpty() ? QByteArray(1, '\x55') : fault.replyBytes);
        return;
    }
    quint8 ack = ACK_OK;
    if (hasFault && (fault.kind == FrameFault::RefuseAck || fault.kind == FrameFault::CorruptAck))
        ack = fault.ackByte;
    QByteArray ackBytes(1, char(ack));
    takeLineFault(LineFault::Ack, command, occurrence, allOccurrence, ackBytes);
    // On a real line the noise went on while the frame came in, one byte per byte of the frame: the
    // host meets those before the acknowledgement.
    if (_noiseEndNs > 0 && nowNs() < _noiseEndNs)
        ackBytes.prepend(takeNoise(raw.size()));
    if (hasFault && fault.kind == FrameFault::RefuseAck) {
        finish(ack);
        send(ackBytes, arrivalNs);
        return;
    }
    if (!send(ackBytes, arrivalNs))
        return;

    int workUs = workUsDefault;
    QByteArray reply;
    if (hasFault && fault.kind == FrameFault::ReplyMessage)
        reply = messageReply(fault.messageCode);
    else
        reply = execute(core, &workUs, hasFault && fault.kind == FrameFault::StoredBitFlip);
    if (hasFault && fault.kind == FrameFault::ReplyBytes)
        reply = fault.replyBytes;
    qint64 due = std::max(_lineOutFreeNs, nowNs()) + qint64(workUs) * 1000;
    if (hasFault && fault.kind == FrameFault::LateReply)
        due += qint64(fault.delayMs) * NS_PER_MS;
    takeLineFault(LineFault::Reply, command, occurrence, allOccurrence, reply);
    // Counted before the reply goes out, so a host that has read it sees the count.
    finish(ack);
    if (!send(reply, due) || !hasFault || fault.kind != FrameFault::Noise)
        return;
    _noiseStartNs = nowNs();
    _noiseEndNs = _noiseStartNs + qint64(fault.delayMs) * NS_PER_MS;
    _noiseSent = 0;
}

QByteArray SimulatedUnit::execute(const QByteArray &core, int *workUs, bool flipStoredBit)
{
    std::lock_guard<std::mutex> lock(_mutex);
    const auto massErase = [&] {
        eraseLocked();
        ++_massErases;
        *workUs = _timing.massEraseUs;
    };
    // A locked loader refuses the commands that touch the flash; a core too short for the command's
    // fields is not understood. Empty when the command may go on.
    const auto refusal = [&](int minimumSize) {
        if (_locked)
            return messageReply(MSG_BSL_LOCKED);
        if (core.size() < minimumSize)
            return messageReply(MSG_UNKNOWN_COMMAND);
        return QByteArray();
    };
    switch (quint8(core.at(0))) {
    case CMD_RX_PASSWORD: {
        ++_passwords;
        _lastPassword = core.mid(1);
        bool match = false;
        switch (_passwordPolicy) {
        case PasswordPolicy::Faithful:
            match = core.size() == 1 + PASSWORD_SIZE &&
                    std::equal(_memory.begin() + VECTORS_ADDRESS,
                               _memory.begin() + VECTORS_ADDRESS + PASSWORD_SIZE,
                               reinterpret_cast<const quint8 *>(core.constData()) + 1);
            break;
        case PasswordPolicy::AcceptAlways:
            match = true;
            break;
        case PasswordPolicy::RefuseAlways:
            match = false;
            break;
        }
        if (match) {
            _locked = false;
            ++_passwordsAccepted;
            return messageReply(MSG_SUCCESSFUL_OPERATION);
        }
        // A wrong password protects the firmware: the loader erases the whole memory.
        _locked = true;
        massErase();
        return messageReply(MSG_BSL_PASSWORD_ERROR);
    }
    case CMD_MASS_ERASE:
        massErase();
        return messageReply(MSG_SUCCESSFUL_OPERATION);
    case CMD_RX_DATA_BLOCK: {
        if (const QByteArray refused = refusal(4); !refused.isEmpty())
            return refused;
        *workUs = _timing.blockWriteUs;
        ++_memoryChanges;
        const quint32 address = coreAddress(core);
        for (int i = 4; i < core.size(); ++i) {
            const quint64 at = quint64(address) + quint64(i - 4);
            if (at >= MEMORY_SIZE)
                return messageReply(MSG_FLASH_WRITE_CHECK_FAILED);
            // Flash programming can only clear bits; the loader verifies every byte it writes.
            const quint8 wanted = quint8(core.at(i));
            _memory[at] &= wanted;
            _written[at] = true;
            if (_memory[at] != wanted)
                return messageReply(MSG_FLASH_WRITE_CHECK_FAILED);
        }
        // The cell passed the write check, then lost its charge.
        if (flipStoredBit && core.size() > 4 && address < MEMORY_SIZE)
            _memory[address] ^= 0x01;
        ++_blocks;
        return messageReply(MSG_SUCCESSFUL_OPERATION);
    }
    case CMD_CRC_CHECK: {
        if (!_knowsCrcCheck)
            return messageReply(MSG_UNKNOWN_COMMAND);
        if (const QByteArray refused = refusal(6); !refused.isEmpty())
            return refused;
        const quint32 address = coreAddress(core);
        const int length = quint8(core.at(4)) | (quint8(core.at(5)) << 8);
        QByteArray bytes(length, '\xFF');
        for (int i = 0; i < length; ++i) {
            if (quint64(address) + quint64(i) < MEMORY_SIZE)
                bytes[i] = char(_memory[address + quint32(i)]);
        }
        // About one microsecond per byte, as a loader reading its flash.
        *workUs = std::max(_timing.commandUs, length);
        const quint16 crc = crc16(bytes);
        return dataReply(QByteArray(1, char(crc & 0xFF)) + char(crc >> 8));
    }
    case CMD_TX_BSL_VERSION:
        if (_locked)
            return messageReply(MSG_BSL_LOCKED);
        return dataReply(QByteArray("\x00\x07\x01\x02", 4));
    default:
        return messageReply(MSG_UNKNOWN_COMMAND);
    }
}

void SimulatedUnit::answerHandshake(qint64 arrivalNs)
{
    Handshake hs;
    int occurrence;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        hs = _handshake;
        _mode = Mode::Loader;
        _locked = true;
        occurrence = ++_handshakes;
        _changed.notify_all();
    }
    qCDebug(lcSim, "programming-mode request #%d: now in the loader", occurrence);
    QByteArray reply = hs.rawReply;
    if (reply.isEmpty())
        reply = PROGRAMMING_REQUEST + hs.versionText + char(QS_FRAME);
    if (hs.mute)
        return;
    takeLineFault(LineFault::HandshakeReply, -1, occurrence, occurrence, reply);
    const bool hangUpAfter = hs.hangUpAfterBytes >= 0;
    if (hangUpAfter)
        reply.truncate(hs.hangUpAfterBytes);

    qint64 due = arrivalNs + qint64(hs.delayMs) * NS_PER_MS;
    int pos = 0;
    for (int burst = 0; pos < reply.size(); ++burst) {
        int length = burst < hs.bursts.size() ? hs.bursts.at(burst) : reply.size() - pos;
        length = std::max(1, std::min(length, reply.size() - pos));
        if (!send(reply.mid(pos, length), due))
            return;
        pos += length;
        due = std::max(_lineOutFreeNs, nowNs()) + qint64(hs.burstPauseMs) * NS_PER_MS;
    }
    if (hangUpAfter)
        doHangUp();
}

QByteArray SimulatedUnit::takeNoise(qint64 count)
{
    QByteArray bytes;
    for (qint64 i = 0; i < count; ++i, ++_noiseSent) {
        if (_noiseSent % 256 == 0) {
            _noiseRound.resize(256);
            std::iota(_noiseRound.begin(), _noiseRound.end(), char(0));
            std::shuffle(_noiseRound.begin(), _noiseRound.end(), std::mt19937(_noiseSeed++));
        }
        bytes.append(_noiseRound.at(int(_noiseSent % 256)));
    }
    return bytes;
}

bool SimulatedUnit::sleepUntil(qint64 deadlineNs)
{
    for (;;) {
        if (_stopRequested || _hangUpRequested)
            return false;
        const qint64 now = nowNs();
        if (now >= deadlineNs)
            return true;
        pollfd fd = {_wake[0], POLLIN, 0};
        const timespec timeout = toTimespec(deadlineNs - now);
        if (ppoll(&fd, 1, &timeout, nullptr) > 0 && (fd.revents & POLLIN)) {
            char drain[64];
            while (::read(_wake[0], drain, sizeof drain) > 0) {
            }
        }
    }
}

bool SimulatedUnit::writeAll(const char *data, int size)
{
    int done = 0;
    while (done < size) {
        if (_stopRequested || _hangUpRequested || _master < 0)
            return false;
        const ssize_t n = ::write(_master, data + done, size_t(size - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The host is not reading: wait until the line takes bytes again.
        pollfd fds[2] = {{_master, POLLOUT, 0}, {_wake[0], POLLIN, 0}};
        ppoll(fds, 2, nullptr, nullptr);
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(_wake[0], drain, sizeof drain) > 0) {
            }
        }
    }
    return true;
}

bool SimulatedUnit::send(const QByteArray &bytes, qint64 notBeforeNs)
{
    bool paced;
    qint64 byteTimeNs;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        paced = _timing.paced;
        byteTimeNs = std::max<qint64>(1000, _timing.byteTimeNs);
    }
    if (!paced) {
        if (!sleepUntil(notBeforeNs) || !writeAll(bytes.constData(), bytes.size()))
            return false;
        _lineOutFreeNs = nowNs();
        std::lock_guard<std::mutex> lock(_mutex);
        appendCapped(_sent, bytes);
        return true;
    }
    // One character at a time on an absolute schedule: each byte reaches the host when its
    // character time on a 115200-baud line is over.
    if (notBeforeNs > nowNs() + 2 * NS_PER_MS && !sleepUntil(notBeforeNs - NS_PER_MS))
        return false;
    qint64 at = std::max({notBeforeNs, _lineOutFreeNs, nowNs()});
    for (int i = 0; i < bytes.size(); ++i) {
        if (_stopRequested || _hangUpRequested)
            return false;
        at += byteTimeNs;
        const timespec ts = toTimespec(at);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        if (!writeAll(bytes.constData() + i, 1))
            return false;
        _lineOutFreeNs = at;
        std::lock_guard<std::mutex> lock(_mutex);
        appendCapped(_sent, bytes.mid(i, 1));
    }
    return true;
}
