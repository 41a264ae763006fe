// The link's thread with a real pseudo-terminal and an emulated reader on
// the other side: a fault inside the program on that thread is said to the
// reader's listener, the bus starts over, and the reader comes back.
#include "EmulatorHost.h"
#include "OsdpLink.h"
#include "SecureChannel.h"
#include "WaitFor.h"

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>

using namespace parking::osdp;

namespace {

const Block Key = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

class Heard {
public:
    void operator()(const BusEvent& e)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
    }
    template <typename Fact>
    int count() const
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(
            std::count_if(events_.begin(), events_.end(), [](const BusEvent& e) { return e.as<Fact>() != nullptr; }));
    }
    std::vector<std::size_t> kinds() const
    {
        std::lock_guard lock(mutex_);
        std::vector<std::size_t> out;
        for (const BusEvent& e : events_)
            out.push_back(e.fact.index());
        return out;
    }
    QString lineFault() const
    {
        std::lock_guard lock(mutex_);
        for (const BusEvent& e : events_) {
            if (const auto* f = e.as<LineFault>())
                return f->what;
        }
        return {};
    }

private:
    mutable std::mutex mutex_;
    std::vector<BusEvent> events_;
};

TEST(OsdpLink, AFaultOnTheLinksThreadIsSaidAndTheReaderComesBack)
{
    EmulatorHost host;
    ASSERT_TRUE(host.openPseudoTerminal());
    host.add(1).setKey(Key);
    const auto port = parsePortText(QStringLiteral("osdp:%1?addr=1&sc=on").arg(host.slavePath()));
    ASSERT_TRUE(port.has_value());
    // The second handshake's random cannot be had: an exception on the
    // link's thread, in the middle of the bus's work.
    std::atomic<int> randoms{0};
    OsdpLink link(*port, {}, [&](std::span<std::uint8_t> out) {
        if (++randoms == 2)
            throw std::runtime_error("sin números aleatorios");
        fillRandom(out);
    });
    Heard heard;
    const int reader = link.addReader({1, ChannelMode::On, Key}, std::ref(heard));
    ASSERT_TRUE(link.start().has_value());
    WAIT_FOR(link.online(reader), 5000);

    host.reader(1)->restart(); // the reader asks for a fresh handshake
    WAIT_FOR(heard.count<LineFault>() == 1, 5000);
    EXPECT_EQ(heard.lineFault(), QStringLiteral("sin números aleatorios"));
    WAIT_FOR(!link.online(reader), 2000);
    // The line is opened again and the reader goes through its handshake.
    WAIT_FOR(link.online(reader), OsdpLink::ReopenEvery.count() + 5000);
    EXPECT_EQ(heard.count<LineFault>(), 1);
    EXPECT_EQ(heard.count<ReaderOnline>(), 2);
    // Said in that order: online, the fault, offline, online again.
    const std::vector<std::size_t> expected{BusFact(ReaderOnline{}).index(), BusFact(LineFault{}).index(),
                                            BusFact(ReaderOffline{}).index(), BusFact(ReaderOnline{}).index()};
    std::vector<std::size_t> presence;
    for (std::size_t k : heard.kinds()) {
        if (k == expected[0] || k == expected[1] || k == expected[2])
            presence.push_back(k);
    }
    EXPECT_EQ(presence, expected);
    EXPECT_TRUE(logLine(LineFault{QStringLiteral("x")})->contains(QStringLiteral("se vuelve a abrir")));
}

} // namespace
