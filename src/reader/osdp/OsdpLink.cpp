#include "OsdpLink.h"
#include "LineDevice.h"

#include <QFile>
#include <QTimer>

#include <openssl/crypto.h>

#include <ctime>
#include <thread>

namespace parking::osdp {

namespace {

constexpr milliseconds OpenWait{2500};

TimePoint steadyNow()
{
    return std::chrono::steady_clock::now();
}

// The longest the thread sleeps without a reason (a reader added, say).
constexpr milliseconds LongestSleep{1000};

// Waits this short are slept on the spot rather than through the event
// loop's timer (see schedule()); the count bounds it should the bus ask for
// one short wait after another.
constexpr std::chrono::microseconds LongestShortSleep{250};
constexpr int MostShortSleepsInARow = 2;

} // namespace

// The link's thread: the line, the bus and the wake-up timer live and die here.
class OsdpLink::Thread final : public QThread {
public:
    explicit Thread(OsdpLink& link)
        : link_(link), device_(link.line_, {[this](std::span<const std::uint8_t> in) { received(in); },
                                            [this] { link_.setLineOpen(true); },
                                            [this](const QString& why) { link_.setLineOpen(false, why); }})
    {
    }

    // Runs `work` on this thread with the bus, once the event loop runs.
    void post(std::function<void(OsdpBus&)> work)
    {
        std::lock_guard lock(mutex_);
        if (context_)
            QMetaObject::invokeMethod(context_, [this, work = std::move(work)] { runWork(work); }, Qt::QueuedConnection);
        else
            early_.push_back(std::move(work));
    }

protected:
    void run() override
    {
        QObject context;
        OsdpBus bus([this](const Bytes& b) { write(b); }, [this](const BusEvent& e) { link_.deliver(e); },
                    [this](int reader, const Block& key) { return storeKey(reader, key); }, link_.random_);
        bus.setLineSpeed(link_.line_.tcp() ? 0 : link_.line_.baud);
        bus_ = &bus;
        QTimer wake;
        wake.setTimerType(Qt::PreciseTimer);
        wake.setSingleShot(true);
        wake_ = &wake;
        QObject::connect(&wake, &QTimer::timeout, [this] {
            guarded([this] { bus_->tick(steadyNow()); });
            schedule();
        });
        QTimer reopen;
        QObject::connect(&reopen, &QTimer::timeout, [this] { openLine(); });
        reopen.start(ReopenEvery);
        openLine();
        {
            std::lock_guard lock(mutex_);
            context_ = &context;
            for (auto& work : early_)
                QMetaObject::invokeMethod(&context, [this, work = std::move(work)] { runWork(work); }, Qt::QueuedConnection);
            early_.clear();
        }
        schedule();
        exec();
        {
            std::lock_guard lock(mutex_);
            context_ = nullptr;
        }
        wake.stop();
        wake_ = nullptr;
        device_.close();
        bus_ = nullptr;
        // The random generator OpenSSL keeps for this thread goes with it.
        OPENSSL_thread_stop();
    }

private:
    void runWork(const std::function<void(OsdpBus&)>& work)
    {
        guarded([&] {
            work(*bus_);
            bus_->tick(steadyNow());
        });
        schedule();
    }

    // Where the link's thread meets what it runs: a fault stops here, is
    // said to every reader, and the bus and the line start over.
    template <typename Work>
    void guarded(Work&& work)
    {
        try {
            work();
        } catch (const std::exception& e) {
            recover(QString::fromUtf8(e.what()));
        } catch (...) {
            recover(QStringLiteral("error desconocido"));
        }
    }

    void recover(const QString& what)
    {
        const TimePoint now = steadyNow();
        try {
            link_.deliverToAll(LineFault{what}, now);
            if (bus_)
                bus_->restart(now);
        } catch (...) {
            // A listener that fails while hearing of a fault changes nothing here.
        }
        // Closed from the event loop: the fault may have come out of the
        // device's own signal, and a device must not be destroyed inside it.
        if (wake_)
            QTimer::singleShot(0, wake_, [this, what] { lost(what); });
    }

    // Sleeps until the bus's next thing to do, in whole milliseconds
    // (rounded up: waking early would only mean waking twice). A wait under
    // a quarter of a millisecond is slept on the spot instead: that is the
    // idle gap after a reply at high speed (174 µs at 115200, less the time
    // the reply took to handle), after which the round's next reader is
    // polled. The timer would round it up to 1 ms, long enough for a
    // virtual machine's processor to halt, and waking a halted one is the
    // dearest part of an idle reader there (docs/performance.md).
    void schedule()
    {
        if (!bus_ || !wake_)
            return;
        TimePoint now = steadyNow();
        TimePoint due = bus_->nextWakeUp(now);
        for (int slept = 0; slept < MostShortSleepsInARow && due > now && due - now <= LongestShortSleep; ++slept) {
            std::this_thread::sleep_until(due);
            now = steadyNow();
            guarded([&] { bus_->tick(now); });
            due = bus_->nextWakeUp(now);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(due - now);
        const auto ms = std::min<std::int64_t>((wait.count() + 999) / 1000, LongestSleep.count());
        wake_->start(static_cast<int>(std::max<std::int64_t>(ms, 0)));
    }

    bool storeKey(int reader, const Block& key)
    {
        return link_.storeKey_ && link_.storeKey_(addresses_.at(reader), key);
    }

    void openLine()
    {
        if (device_.active())
            return;
        const auto opened = device_.open();
        if (!opened)
            return link_.setLineOpen(false, opened.error());
        if (!opened->warning.isEmpty())
            link_.setLineWarning(opened->warning);
        if (!opened->connecting)
            link_.setLineOpen(true);
    }

    void lost(const QString& why)
    {
        device_.close();
        link_.setLineOpen(false, why);
    }

    void received(std::span<const std::uint8_t> in)
    {
        if (!bus_)
            return;
        link_.capture(false, in);
        guarded([&] { bus_->received(in, steadyNow()); });
        schedule();
    }

    void write(const Bytes& bytes)
    {
        if (device_.write(bytes))
            link_.capture(true, bytes);
    }

public:
    std::map<int, std::uint8_t> addresses_;

private:
    OsdpLink& link_;
    std::mutex mutex_;
    QObject* context_ = nullptr;
    std::vector<std::function<void(OsdpBus&)>> early_;
    OsdpBus* bus_ = nullptr;
    QTimer* wake_ = nullptr;
    LineDevice device_;
};

OsdpLink::OsdpLink(PortText line, std::function<bool(std::uint8_t, const Block&)> storeKey, RandomSource random)
    : line_(std::move(line)), storeKey_(std::move(storeKey)), random_(std::move(random)),
      thread_(std::make_unique<Thread>(*this))
{
}

OsdpLink::~OsdpLink()
{
    if (thread_->isRunning()) {
        thread_->quit();
        thread_->wait();
    }
}

Result<OsdpLink::Opened> OsdpLink::start()
{
    if (!thread_->isRunning())
        thread_->start();
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, OpenWait, [this] { return firstAttemptDone_; });
    if (!lineOpen_)
        return failure(lineFault_.isEmpty() ? QStringLiteral("la línea no responde") : lineFault_);
    return Opened{lineWarning_};
}

void OsdpLink::setLineOpen(bool open, const QString& fault)
{
    {
        std::lock_guard lock(mutex_);
        lineOpen_ = open;
        lineFault_ = open ? QString() : fault;
        firstAttemptDone_ = true;
    }
    changed_.notify_all();
}

void OsdpLink::setLineWarning(const QString& warning)
{
    std::lock_guard lock(mutex_);
    lineWarning_ = warning;
}


void OsdpLink::post(std::function<void(OsdpBus&)> work)
{
    thread_->post(std::move(work));
}

int OsdpLink::addReader(const ReaderConfig& config, Listener listener)
{
    int index = 0;
    {
        std::lock_guard lock(mutex_);
        index = nextIndex_++;
        listeners_[index] = std::move(listener);
        online_[index] = false;
    }
    // Indexes are handed out in the order the bus adds readers.
    post([this, config, index](OsdpBus& bus) {
        thread_->addresses_[index] = config.address;
        bus.addReader(config, steadyNow());
    });
    return index;
}

void OsdpLink::removeReader(int reader)
{
    {
        std::lock_guard lock(mutex_);
        listeners_.erase(reader);
        online_[reader] = false;
    }
    post([reader](OsdpBus& bus) { bus.removeReader(reader); });
}

bool OsdpLink::submit(int reader, Command command)
{
    if (!online(reader))
        return false;
    post([reader, command = std::move(command)](OsdpBus& bus) mutable { bus.submit(reader, std::move(command)); });
    return true;
}

bool OsdpLink::online(int reader) const
{
    std::lock_guard lock(mutex_);
    const auto it = online_.find(reader);
    return it != online_.end() && it->second;
}

Capabilities OsdpLink::capabilities(int reader) const
{
    std::lock_guard lock(mutex_);
    const auto it = capabilities_.find(reader);
    return it == capabilities_.end() ? Capabilities{} : it->second;
}

bool OsdpLink::waitOnline(int reader, milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return online_[reader]; });
}

void OsdpLink::deliver(const BusEvent& e)
{
    Listener listener;
    Listener observer;
    {
        std::lock_guard lock(mutex_);
        if (const auto* online = e.as<ReaderOnline>()) {
            online_[e.reader] = true;
            capabilities_[e.reader] = online->capabilities;
        } else if (const auto* restarted = e.as<ReaderRestarted>()) {
            capabilities_[e.reader] = restarted->capabilities;
        } else if (e.as<ReaderOffline>()) {
            online_[e.reader] = false;
        }
        const auto it = listeners_.find(e.reader);
        if (it != listeners_.end())
            listener = it->second;
        observer = observer_;
    }
    changed_.notify_all();
    if (listener)
        listener(e);
    if (observer)
        observer(e);
}

void OsdpLink::setObserver(Listener observer)
{
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

// The bus reports each reader's going offline itself when it restarts;
// this is for what happened to the line, which concerns every reader.
void OsdpLink::deliverToAll(const BusFact& fact, TimePoint at)
{
    std::vector<std::pair<int, Listener>> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners.assign(listeners_.begin(), listeners_.end());
    }
    for (const auto& [reader, listener] : listeners)
        listener(BusEvent{reader, at, fact});
}

// The link's packet capture, in the osdpcap format of the OSDP
// conformance tool: one JSON object a line, every packet as on the wire.
bool OsdpLink::captureTo(const QString& path, bool append)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate) | QIODevice::Text))
        return false;
    capture_ = std::move(file);
    return true;
}

void OsdpLink::capture(bool output, std::span<const std::uint8_t> bytes)
{
    if (!capture_)
        return;
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    QByteArray hex;
    for (std::uint8_t b : bytes)
        hex += ' ' + QByteArray::number(b, 16).rightJustified(2, '0');
    // One JSON object a line, as the conformance tool's osdpcap (version 1).
    capture_->write(QStringLiteral("{ \"timeSec\" : \"%1\", \"timeNano\" : \"%2\", \"io\" : \"%3\", \"data\" : \"%4\", "
                                   "\"osdpTraceVersion\" : \"1\", \"osdpSource\" : \"parking-station\" }\n")
                        .arg(static_cast<qint64>(t.tv_sec))
                        .arg(static_cast<qint64>(t.tv_nsec), 9, 10, QLatin1Char('0'))
                        .arg(output ? QStringLiteral("output") : QStringLiteral("input"), QString::fromLatin1(hex))
                        .toUtf8());
    capture_->flush();
}

} // namespace parking::osdp
