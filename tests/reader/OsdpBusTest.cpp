// The bus state machine on a simulated clock, against emulated readers on
// an in-process line: no thread, no wall clock.
#include "OsdpBus.h"
#include "PeripheralEmulator.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace parking::osdp;
using namespace std::chrono_literals;

namespace {

const Block StoredKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

class Bus : public ::testing::Test {
protected:
    Bus()
        : bus([this](const Bytes& b) { sent(b); }, [this](const BusEvent& e) { events.push_back(e); },
              [this](int reader, const Block& key) {
                  stored.push_back({reader, key});
                  return storeWorks;
              })
    {
    }

    PeripheralEmulator& addReader(std::uint8_t address, ChannelMode mode, std::optional<Block> busKey,
                                  std::optional<Block> readerKey)
    {
        pds.push_back(std::make_unique<PeripheralEmulator>(address));
        pds.back()->setKey(readerKey);
        bus.addReader({address, mode, busKey}, now);
        return *pds.back();
    }

    void sent(const Bytes& b)
    {
        FrameReader f;
        f.feed(b);
        while (auto d = f.next()) {
            commands.push_back({now, d->packet.address, d->packet.sequence, d->packet.code, d->packet.hasMac()});
            if (dropReplies > 0) {
                --dropReplies;
                continue;
            }
            for (auto& pd : pds) {
                if (auto reply = pd->handle(*d))
                    replies.push_back(*reply);
            }
        }
    }

    // Moves time on in 5 ms steps; a reply arrives in the step after its
    // command, as on a line.
    void run(std::chrono::milliseconds duration)
    {
        const TimePoint end = now + duration;
        while (now < end) {
            bus.tick(now);
            std::vector<Bytes> arrived;
            arrived.swap(replies);
            for (const Bytes& r : arrived)
                bus.received(r, now);
            now += 5ms;
        }
    }

    int count(BusEvent::Kind kind, int reader = -1) const
    {
        return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const BusEvent& e) {
            return e.kind == kind && (reader < 0 || e.reader == reader);
        }));
    }
    QStringList logs() const
    {
        QStringList out;
        for (const BusEvent& e : events) {
            if (e.kind == BusEvent::Kind::Log)
                out << e.text;
        }
        return out;
    }

    struct Sent {
        TimePoint at;
        std::uint8_t address;
        std::uint8_t sequence;
        std::uint8_t code;
        bool secure;
    };

    TimePoint now{};
    std::vector<std::unique_ptr<PeripheralEmulator>> pds;
    std::vector<Bytes> replies;
    std::vector<Sent> commands;
    std::vector<BusEvent> events;
    std::vector<std::pair<int, Block>> stored;
    bool storeWorks = true;
    int dropReplies = 0;
    OsdpBus bus;
};

TEST_F(Bus, ComesOnlineThroughIdentityCapabilitiesAndTheSecureChannel)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(200ms);
    ASSERT_EQ(count(BusEvent::Kind::Online), 1);
    EXPECT_TRUE(bus.online(0));
    EXPECT_TRUE(pd.secure());
    ASSERT_GE(commands.size(), 8u);
    const std::uint8_t expectedCodes[] = {command::Id, command::Capabilities, command::Challenge,
                                          command::ServerCryptogram, command::Poll, command::Poll};
    const std::uint8_t expectedSequence[] = {0, 1, 2, 3, 1, 2, 3, 1};
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(commands[i].code, expectedCodes[i]) << i;
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(commands[i].sequence, expectedSequence[i]) << i;
    EXPECT_TRUE(commands[4].secure);
    EXPECT_TRUE(logs().filter(QStringLiteral("en línea: fabricante 0C0B0A")).size() == 1);
}

TEST_F(Bus, ASilentReaderGoesOfflineOnceAndComesBackOnce)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    ASSERT_TRUE(bus.online(0));
    pd.setSilent(true);
    run(OsdpBus::OfflineAfter - 100ms);
    EXPECT_EQ(count(BusEvent::Kind::Offline), 0);
    run(200ms);
    EXPECT_EQ(count(BusEvent::Kind::Offline), 1);
    EXPECT_FALSE(bus.online(0));
    run(20s);
    EXPECT_EQ(count(BusEvent::Kind::Offline), 1);
    // Tried at most once a second while it is away.
    const auto attempts = std::count_if(commands.begin(), commands.end(), [&](const Sent& s) { return s.at > now - 10s; });
    EXPECT_LE(attempts, 11);
    pd.setSilent(false);
    run(1500ms);
    EXPECT_EQ(count(BusEvent::Kind::Online), 2);
    EXPECT_TRUE(bus.online(0));
}

TEST_F(Bus, ANeverAnsweringReaderIsReportedDownOnce)
{
    addReader(1, ChannelMode::On, StoredKey, StoredKey).setSilent(true);
    run(7900ms);
    EXPECT_EQ(count(BusEvent::Kind::Offline), 0);
    run(200ms);
    EXPECT_EQ(count(BusEvent::Kind::Offline), 1);
    run(10s);
    EXPECT_EQ(count(BusEvent::Kind::Offline), 1);
}

TEST_F(Bus, ALostReplyIsAskedForAgainWithTheSameSequenceNumber)
{
    addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    commands.clear();
    dropReplies = 1;
    run(OsdpBus::ReplyTimeout + 50ms);
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[1].sequence, commands[0].sequence);
    EXPECT_EQ(commands[1].at - commands[0].at, OsdpBus::ReplyTimeout);
    EXPECT_EQ(count(BusEvent::Kind::Offline), 0);
}

TEST_F(Bus, TwoLostRepliesStartOverAtSequenceZero)
{
    addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    commands.clear();
    dropReplies = 2;
    run(600ms);
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[2].sequence, 0);
    EXPECT_EQ(commands[2].code, command::Id);
    EXPECT_TRUE(bus.online(0));
    EXPECT_EQ(count(BusEvent::Kind::Offline), 0);
}

TEST_F(Bus, ASequenceNakStartsOverAtZeroAndStaysOnline)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    commands.clear();
    pd.nakNext(1, nak::Sequence);
    run(100ms);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1].sequence, 0);
    EXPECT_TRUE(pd.secure());
    EXPECT_EQ(count(BusEvent::Kind::Offline), 0);
    EXPECT_EQ(count(BusEvent::Kind::Online), 1);
}

TEST_F(Bus, ARestartedReaderGetsItsChannelBackByItself)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    pd.restart();
    EXPECT_FALSE(pd.secure());
    run(200ms);
    EXPECT_TRUE(pd.secure());
    EXPECT_TRUE(bus.online(0));
    EXPECT_EQ(count(BusEvent::Kind::Offline), 0);
}

TEST_F(Bus, ADeadReaderDoesNotSlowItsNeighbour)
{
    addReader(1, ChannelMode::On, StoredKey, StoredKey).setSilent(true);
    addReader(2, ChannelMode::On, StoredKey, StoredKey);
    run(30s);
    TimePoint last{};
    std::chrono::nanoseconds longest{0};
    for (const Sent& s : commands) {
        if (s.address != 2)
            continue;
        if (last != TimePoint{})
            longest = std::max(longest, s.at - last);
        last = s.at;
    }
    EXPECT_LE(longest, 250ms);
    EXPECT_TRUE(bus.online(1));
}

TEST_F(Bus, CommandsForAnOfflineReaderAreDroppedNotReplayed)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    EXPECT_FALSE(bus.submit(0, command::Output, {0, 5, 6, 0}));
    run(100ms);
    pd.setSilent(true);
    run(20ms);
    EXPECT_TRUE(bus.submit(0, command::Output, {0, 5, 6, 0})); // still counted online
    run(9s);
    EXPECT_FALSE(bus.online(0));
    pd.setSilent(false);
    run(2s);
    EXPECT_TRUE(bus.online(0));
    EXPECT_TRUE(pd.relays().empty());
}

TEST_F(Bus, InstallModeGivesTheReaderAFreshKeyStoredFirst)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::Install, std::nullopt, std::nullopt);
    run(300ms);
    ASSERT_EQ(stored.size(), 1u);
    ASSERT_TRUE(pd.key());
    EXPECT_EQ(*pd.key(), stored[0].second);
    EXPECT_NE(*pd.key(), InstallKey);
    EXPECT_TRUE(bus.online(0));
    EXPECT_TRUE(pd.secure());
    EXPECT_EQ(pd.commandsSeen(command::Challenge), 2); // with the install key, then with the new one
}

TEST_F(Bus, InstallModeWithoutAPlaceForTheKeyStaysOffline)
{
    storeWorks = false;
    PeripheralEmulator& pd = addReader(1, ChannelMode::Install, std::nullopt, std::nullopt);
    run(9s);
    EXPECT_FALSE(pd.key());
    EXPECT_FALSE(bus.online(0));
    EXPECT_FALSE(logs().filter(QStringLiteral("no se puede guardar la clave")).isEmpty());
}

TEST_F(Bus, AWrongKeyKeepsTheReaderOfflineAndSaysSo)
{
    Block other = StoredKey;
    other[0] ^= 0xFF;
    addReader(1, ChannelMode::On, other, StoredKey);
    run(9s);
    EXPECT_EQ(count(BusEvent::Kind::Online), 0);
    EXPECT_EQ(count(BusEvent::Kind::Offline), 1);
    EXPECT_FALSE(logs().filter(QStringLiteral("rechaza la clave")).isEmpty());
    for (const BusEvent& e : events)
        EXPECT_FALSE(e.text.contains(QStringLiteral("0102030405")));
}

TEST_F(Bus, SecureModeWithoutAKeyNeverTalksToTheReader)
{
    addReader(1, ChannelMode::On, std::nullopt, std::nullopt);
    run(9s);
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(count(BusEvent::Kind::Offline), 1);
    EXPECT_FALSE(logs().filter(QStringLiteral("sc=install")).isEmpty());
}

TEST_F(Bus, PlainModeWarnsOnceAndSkipsTheChannel)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::Off, std::nullopt, std::nullopt);
    run(200ms);
    EXPECT_TRUE(bus.online(0));
    EXPECT_FALSE(pd.secure());
    EXPECT_EQ(pd.commandsSeen(command::Challenge), 0);
    EXPECT_EQ(logs().filter(QStringLiteral("sc=off")).size(), 1);
}

TEST_F(Bus, ReadsAndTheRelayAnswerReachTheController)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    pd.presentCardNumber(123456);
    pd.presentFormattedCard(QStringLiteral("%B0010000000101?"));
    ASSERT_TRUE(bus.submit(0, command::Output, {0, 5, 6, 0}));
    run(100ms);
    ASSERT_EQ(count(BusEvent::Kind::RawCard), 1);
    ASSERT_EQ(count(BusEvent::Kind::FormattedCard), 1);
    ASSERT_EQ(count(BusEvent::Kind::CommandAnswered), 1);
    for (const BusEvent& e : events) {
        if (e.kind == BusEvent::Kind::RawCard) {
            EXPECT_EQ(e.bits, 44);
        } else if (e.kind == BusEvent::Kind::FormattedCard) {
            EXPECT_EQ(e.text, QStringLiteral("%B0010000000101?"));
        } else if (e.kind == BusEvent::Kind::CommandAnswered) {
            EXPECT_EQ(e.text, QStringLiteral("ACK"));
        }
    }
    ASSERT_EQ(pd.relays().size(), 1u);
    EXPECT_EQ(pd.relays()[0].control, 5);
    EXPECT_EQ(pd.relays()[0].tenths, 6);
}

} // namespace
