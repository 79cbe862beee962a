#include "simulatedunit.h"

#include <QFile>

#include <algorithm>
#include <iterator>

namespace {

// Copies that share nothing with the serving thread's buffers: handing out implicitly shared data
// would leave its reference count as the only link between the threads.
QByteArray deepCopy(const QByteArray &bytes)
{
    return QByteArray(bytes.constData(), bytes.size());
}

} // namespace

SimulatedUnit::SimulatedUnit()
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
    _line.close();
    _errorString.clear();
    if (!loadMemoryFile())
        return false;
    _memoryChangesSaved = _loader.changes();
    if (!_line.open(_devicePath, &_errorString))
        return false;

    {
        // Without a reset vector there is no application to start: the unit comes up in its loader.
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_loader.hasApplication()) {
            _mode = Mode::Loader;
            _loader.locked = true;
        }
    }
    forgetLineInput();
    _line.resetTimes();
    _lastLoaderByteNs = _lastHostByteNs = 0;
    _noise.stop();
    _line.clearRequests();
    _parserReset = false;
    _running = true;
    _thread = std::thread([this] { run(); });
    qCDebug(lcSim, "serving on %s", qPrintable(_line.portPath()));
    return true;
}

bool SimulatedUnit::loadMemoryFile()
{
    const QString memoryPath = memoryFile();
    if (memoryPath.isEmpty())
        return true;
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
        _loader.setImage(image);
    }
    // From now on the file always holds a whole image, also when this process is killed.
    if (!saveMemory()) {
        _errorString = QStringLiteral("cannot write the memory to %1").arg(memoryPath);
        return false;
    }
    return true;
}

void SimulatedUnit::stop()
{
    endServing(false);
}

void SimulatedUnit::hangUp()
{
    endServing(true);
}

// The serving thread leaves on the request; what it leaves in memory is saved before the port closes.
void SimulatedUnit::endServing(bool hangUp)
{
    if (_thread.joinable()) {
        _line.requestEnd(hangUp);
        _thread.join();
        saveMemory();
    }
    _line.close();
}

bool SimulatedUnit::isRunning() const
{
    return _running;
}

QString SimulatedUnit::portPath() const
{
    return _line.portPath();
}

QString SimulatedUnit::errorString() const
{
    return _errorString;
}

void SimulatedUnit::setDevicePath(const QString &path)
{
    _devicePath = path;
}

// The device hung up: the unit is without power until the device opens again, then starts afresh
// from what its memory holds.
bool SimulatedUnit::powerCycle()
{
    _line.closeDevice();
    saveMemory();
    qCDebug(lcSim, "%s hung up", qPrintable(_devicePath));
    // A moment without power each time: a device that hangs up at once is not opened in a busy loop.
    do {
        if (!_line.sleepUntil(monotonicNs() + 20 * NS_PER_MS))
            return false;
    } while (!_line.reopen());
    bool application;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        application = _loader.hasApplication();
    }
    setMode(application ? Mode::Application : Mode::Loader);
    forgetLineInput();
    ++_powerCycles;
    qCDebug(lcSim, "%s open again, unit in its %s", qPrintable(_devicePath),
            application ? "application" : "loader");
    return true;
}

void SimulatedUnit::doHangUp()
{
    _running = false;
    _line.hangUp();
    qCDebug(lcSim, "line hung up");
    saveMemory();
}

// What the line had brought in and not yet handled: gone when the unit starts or loses power.
void SimulatedUnit::forgetLineInput()
{
    _loaderFrame.clear();
    _requestScan.clear();
    _hostBytes.clear();
    _hostArrivalNs.clear();
    _holdingHostBytes = false;
    _hostFrameSize = 0;
}

SimLine::Pace SimulatedUnit::pace() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return SimLine::Pace{_timing.paced, std::max<qint64>(1000, _timing.byteTimeNs)};
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
    _loader.passwordPolicy = policy;
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
    _loader.knowsCrcCheck = knows;
}

void SimulatedUnit::addFrameFault(const FrameFault &fault)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _faults.frameFaults.append(fault);
    _faults.frameFaults.last().replyBytes = deepCopy(fault.replyBytes);
}

void SimulatedUnit::clearFrameFaults()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _faults.frameFaults.clear();
}

void SimulatedUnit::addLineFault(const LineFault &fault)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _faults.lineFaults.append(fault);
}

void SimulatedUnit::clearLineFaults()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _faults.lineFaults.clear();
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
    _line.wake();
}

void SimulatedUnit::setBabbling(bool babbling, const QByteArray &pattern)
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _babbling = babbling;
        _babblePattern = pattern.isEmpty() ? QByteArray(1, '\x55') : deepCopy(pattern);
    }
    _line.wake();
}

void SimulatedUnit::setMode(Mode mode)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _mode = mode;
    _loader.locked = true;
    _parserReset = true;
}

// ---------------------------------------------------------------------------------------------------
// Memory

QByteArray SimulatedUnit::memory(quint32 address, int length) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _loader.memory(address, length);
}

void SimulatedUnit::eraseMemory()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _loader.erase();
}

void SimulatedUnit::loadMemory(quint32 address, const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _loader.load(address, bytes);
}

void SimulatedUnit::loadDefaultFirmware()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _loader.loadDefaultFirmware();
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
        image = _loader.image();
    }
    return writeMemoryImage(path, image);
}

void SimulatedUnit::saveChangedMemory()
{
    if (_loader.changes() != _memoryChangesSaved) {
        _memoryChangesSaved = _loader.changes();
        saveMemory();
    }
}

bool SimulatedUnit::holdsFirmware() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _loader.holdsFirmware();
}

QVector<SimulatedUnit::Range> SimulatedUnit::writtenRanges() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _loader.writtenRanges();
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
    _framesAll = _badFrames = _handshakes = 0;
    _faults.resetCounters();
    _loader.counters = SimLoader::Counters();
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
