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
const OutputCommand Pulse{0, OutputControl::TemporaryOn, 6};

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
        raw.push_back(b);
        FrameReader f;
        f.feed(b);
        while (auto d = f.next()) {
            commands.push_back({now, d->packet.address, d->packet.sequence, d->packet.code, d->packet.hasMac()});
            if (dropReplies > 0) {
                --dropReplies;
                continue;
            }
            if (dropCommandCount > 0 && d->packet.code == dropCommand) {
                --dropCommandCount;
                continue;
            }
            for (auto& pd : pds) {
                if (auto reply = pd->handle(*d))
                    replies.push_back(corruptSecureReplies ? spoilMac(*reply) : *reply);
            }
        }
    }

    // Moves time on in steps (5 ms unless told); a reply arrives in the
    // step after its command, as on a line.
    void run(std::chrono::microseconds duration)
    {
        const TimePoint end = now + duration;
        while (now < end) {
            bus.tick(now);
            std::vector<Bytes> arrived;
            arrived.swap(replies);
            for (const Bytes& r : arrived)
                bus.received(r, now);
            now += step;
        }
    }
    std::chrono::microseconds step = 5ms;

    template <typename Fact>
    int count() const
    {
        return static_cast<int>(
            std::count_if(events.begin(), events.end(), [](const BusEvent& e) { return e.as<Fact>() != nullptr; }));
    }
    template <typename Fact>
    std::vector<Fact> facts() const
    {
        std::vector<Fact> out;
        for (const BusEvent& e : events) {
            if (const auto* f = e.as<Fact>())
                out.push_back(*f);
        }
        return out;
    }
    QStringList logs() const
    {
        QStringList out;
        for (const BusEvent& e : events) {
            if (const auto line = logLine(e.fact))
                out << *line;
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

    // A reply whose MAC no longer matches, its CRC still right (what an
    // attacker or a broken reader sends); plain replies pass untouched.
    static Bytes spoilMac(Bytes reply)
    {
        const auto d = decode(reply);
        if (!d || !d->packet.hasMac())
            return reply;
        reply[reply.size() - 3] ^= 0x01; // the MAC's last byte
        const std::uint16_t crc = crc16(std::span(reply).first(reply.size() - 2));
        reply[reply.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
        reply[reply.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
        return reply;
    }
    int sentCount(std::uint8_t code) const
    {
        return static_cast<int>(std::count_if(commands.begin(), commands.end(), [&](const Sent& c) { return c.code == code; }));
    }

    TimePoint now{};
    std::vector<Bytes> raw;
    bool corruptSecureReplies = false;
    std::uint8_t dropCommand = 0;
    int dropCommandCount = 0;
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
    ASSERT_EQ(count<ReaderOnline>(), 1);
    EXPECT_TRUE(bus.online(0));
    EXPECT_TRUE(pd.secure());
    ASSERT_GE(commands.size(), 8u);
    // Then its tamper and power, its inputs, and our receive size, before the polls.
    const std::uint8_t expectedCodes[] = {command::Id,        command::Capabilities,     command::Challenge,
                                          command::ServerCryptogram, command::LocalStatus, command::InputStatus,
                                          command::ReceiveSize, command::Poll};
    const std::uint8_t expectedSequence[] = {0, 1, 2, 3, 1, 2, 3, 1};
    for (std::size_t i = 0; i < 8; ++i)
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
    EXPECT_EQ(count<ReaderOffline>(), 0);
    run(200ms);
    EXPECT_EQ(count<ReaderOffline>(), 1);
    EXPECT_FALSE(bus.online(0));
    run(20s);
    EXPECT_EQ(count<ReaderOffline>(), 1);
    // Tried at most once a second while it is away.
    const auto attempts = std::count_if(commands.begin(), commands.end(), [&](const Sent& s) { return s.at > now - 10s; });
    EXPECT_LE(attempts, 11);
    pd.setSilent(false);
    run(1500ms);
    EXPECT_EQ(count<ReaderOnline>(), 2);
    EXPECT_TRUE(bus.online(0));
}

TEST_F(Bus, ANeverAnsweringReaderIsReportedDownOnce)
{
    addReader(1, ChannelMode::On, StoredKey, StoredKey).setSilent(true);
    run(7900ms);
    EXPECT_EQ(count<ReaderOffline>(), 0);
    run(200ms);
    EXPECT_EQ(count<ReaderOffline>(), 1);
    run(10s);
    EXPECT_EQ(count<ReaderOffline>(), 1);
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
    EXPECT_EQ(count<ReaderOffline>(), 0);
}

TEST_F(Bus, ALostReplyIsAskedForUpToThreeTimesThenTheSequenceStartsOver)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    pd.presentCardNumber(123456);
    commands.clear();
    // The reader hands the read out once; our three repeats get its kept reply.
    pd.loseReplies(1);
    dropReplies = 2;
    run(1s);
    ASSERT_GE(commands.size(), 5u);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(commands[i].sequence, commands[0].sequence) << i;
        EXPECT_EQ(commands[i].code, commands[0].code) << i;
    }
    EXPECT_NE(commands[4].code, command::Id); // answered at the fourth try: no new handshake
    EXPECT_EQ(count<CardBitsRead>(), 1);

    commands.clear();
    dropReplies = 4;
    run(1200ms);
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(commands[4].sequence, 0);
    EXPECT_EQ(commands[4].code, command::Id);
    EXPECT_TRUE(bus.online(0));
    EXPECT_EQ(count<ReaderOffline>(), 0);
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
    EXPECT_EQ(count<ReaderOffline>(), 0);
    EXPECT_EQ(count<ReaderOnline>(), 1);
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
    EXPECT_EQ(count<ReaderOffline>(), 0);
    // Told, so what it showed can be sent again.
    EXPECT_EQ(count<ReaderRestarted>(), 1);
    EXPECT_EQ(count<ReaderOnline>(), 1);
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
    EXPECT_FALSE(bus.submit(0, Pulse));
    run(100ms);
    pd.setSilent(true);
    run(20ms);
    EXPECT_TRUE(bus.submit(0, Pulse)); // still counted online
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
    EXPECT_EQ(count<ReaderOnline>(), 0);
    EXPECT_EQ(count<ReaderOffline>(), 1);
    EXPECT_FALSE(logs().filter(QStringLiteral("rechaza la clave")).isEmpty());
    for (const QString& line : logs())
        EXPECT_FALSE(line.contains(QStringLiteral("0102030405")));
}

TEST_F(Bus, SecureModeWithoutAKeyNeverTalksToTheReader)
{
    addReader(1, ChannelMode::On, std::nullopt, std::nullopt);
    run(9s);
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(count<ReaderOffline>(), 1);
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
    ASSERT_TRUE(bus.submit(0, Pulse));
    run(100ms);
    ASSERT_EQ(count<CardBitsRead>(), 1);
    ASSERT_EQ(count<CardTrackRead>(), 1);
    ASSERT_EQ(count<RelayAnswered>(), 1);
    EXPECT_EQ(facts<CardBitsRead>()[0].bits, 44);
    EXPECT_EQ(facts<CardTrackRead>()[0].text, QStringLiteral("%B0010000000101?"));
    EXPECT_EQ(facts<RelayAnswered>()[0].answer, RelayAnswer::Ack);
    EXPECT_EQ(logs().filter(QStringLiteral("respuesta a CloseRelay: ACK")).size(), 1);
    ASSERT_EQ(pd.relays().size(), 1u);
    EXPECT_EQ(pd.relays()[0].control, 5);
    EXPECT_EQ(pd.relays()[0].tenths, 6);
}

// ---- proof of life -------------------------------------------------------------

TEST_F(Bus, PlainNaksFromAnythingOnTheWireNeverKeepAReaderOnline)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    ASSERT_TRUE(bus.online(0));
    pd.setForgeNak(true); // the reader removed, something answering NAK in its place
    run(OsdpBus::OfflineAfter + 100ms);
    EXPECT_EQ(count<ReaderOffline>(), 1);
    run(20s);
    EXPECT_FALSE(bus.online(0));
    EXPECT_EQ(count<ReaderOnline>(), 1);
}

TEST_F(Bus, AReaderThatCompletesHandshakesButFailsEveryExchangeGoesOffline)
{
    addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    ASSERT_TRUE(bus.online(0));
    corruptSecureReplies = true; // the handshake still succeeds, every MAC after it fails
    run(OsdpBus::OfflineAfter + 200ms);
    EXPECT_EQ(count<ReaderOffline>(), 1);
    EXPECT_GT(sentCount(command::ServerCryptogram), 2); // it kept completing handshakes
    run(20s);
    EXPECT_EQ(count<ReaderOnline>(), 1);
    EXPECT_EQ(count<ReaderRestarted>(), 0);
}

TEST_F(Bus, AFreshReaderIsOnlineOnlyAfterAnAuthenticatedReply)
{
    corruptSecureReplies = true;
    addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(9s);
    EXPECT_EQ(count<ReaderOnline>(), 0);
    EXPECT_EQ(count<ReaderOffline>(), 1);
}

// ---- keys -----------------------------------------------------------------------

TEST_F(Bus, AReaderAnsweringOnlyTheInstallKeyWhileAKeyIsStoredIsReportedNeverReKeyed)
{
    for (ChannelMode mode : {ChannelMode::Install, ChannelMode::On}) {
        events.clear();
        stored.clear();
        pds.clear();
        bus = OsdpBus([this](const Bytes& b) { sent(b); }, [this](const BusEvent& e) { events.push_back(e); },
                      [this](int reader, const Block& key) {
                          stored.push_back({reader, key});
                          return storeWorks;
                      });
        // A factory-fresh reader put in place of the keyed one.
        PeripheralEmulator& pd = addReader(1, mode, StoredKey, std::nullopt);
        run(12s);
        EXPECT_TRUE(stored.empty());
        EXPECT_FALSE(pd.key());
        EXPECT_EQ(pd.commandsSeen(command::KeySet), 0);
        EXPECT_FALSE(bus.online(0));
        EXPECT_EQ(count<InstallKeyOnly>(), 1); // said once, not every second
        EXPECT_EQ(count<ReaderOnline>(), 0);
    }
}

TEST_F(Bus, ARekeyOnRequestGivesAReplacedReaderANewKey)
{
    // A factory-fresh reader, a key stored for its place, and the
    // installer's --rekey.
    pds.push_back(std::make_unique<PeripheralEmulator>(1));
    PeripheralEmulator& fresh = *pds.back();
    bus.addReader({1, ChannelMode::On, StoredKey, true}, now);
    run(3s);
    ASSERT_EQ(stored.size(), 1u);
    ASSERT_TRUE(fresh.key());
    EXPECT_EQ(*fresh.key(), stored[0].second);
    EXPECT_TRUE(bus.online(0));
    EXPECT_EQ(fresh.commandsSeen(command::KeySet), 1);
}

TEST_F(Bus, ANewKeyAcknowledgedInTheClearIsTaken)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::Install, std::nullopt, std::nullopt);
    pd.setPlainKeySetAck(true);
    run(500ms);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(pd.key(), stored[0].second);
    EXPECT_TRUE(bus.online(0));
    EXPECT_FALSE(logs().filter(QStringLiteral("clave nueva de canal seguro dada")).isEmpty());
}

TEST_F(Bus, ANewKeyWhoseReplyIsLostIsAskedForAgainAndThenUsed)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::Install, std::nullopt, std::nullopt);
    pd.loseReplies(1, command::KeySet);
    run(1s);
    EXPECT_EQ(sentCount(command::KeySet), 2); // the repeat, same sequence, got the kept reply
    EXPECT_EQ(pd.commandsSeen(command::KeySet), 1);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(pd.key(), stored[0].second);
    EXPECT_TRUE(bus.online(0));
}

TEST_F(Bus, AfterANewKeyThatNeverArrivedTheOldKeyStillReachesTheReader)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::Install, std::nullopt, std::nullopt);
    // The KEYSET and its three repeats lost on their way: the reader keeps the install key.
    dropCommand = command::KeySet;
    dropCommandCount = 4;
    run(5s);
    EXPECT_EQ(sentCount(command::KeySet), 5);
    // The new key was tried, then the one before, then a key given again.
    ASSERT_EQ(stored.size(), 2u);
    ASSERT_TRUE(pd.key());
    EXPECT_EQ(*pd.key(), stored.back().second);
    EXPECT_TRUE(bus.online(0));
}

// ---- BUSY, sizes, capabilities ------------------------------------------------------

TEST_F(Bus, BusyGetsTheSameCommandAgainAfterAWaitWithoutANewHandshake)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(200ms);
    commands.clear();
    pd.busyNext(2);
    run(300ms);
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[1].sequence, commands[0].sequence);
    EXPECT_EQ(commands[2].sequence, commands[0].sequence);
    EXPECT_GE(commands[1].at - commands[0].at, OsdpBus::BusyWait);
    EXPECT_EQ(sentCount(command::Challenge), 0);
    EXPECT_TRUE(bus.online(0));
}

TEST_F(Bus, ALargeReplyIsTakenAndMacOnlyDataIsAuthentic)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(100ms);
    pd.presentRawCard(1300 * 8, Bytes(1300, 0x5A)); // a 1,308-byte reply and more once sealed
    run(100ms);
    ASSERT_EQ(count<CardBitsRead>(), 1);
    pd.setMacOnlyReplies(true);
    pd.presentCardNumber(42);
    run(100ms);
    EXPECT_EQ(count<CardBitsRead>(), 2);
    run(10s);
    EXPECT_EQ(count<ReaderOffline>(), 0);
    EXPECT_EQ(count<ReaderOnline>(), 1);
    EXPECT_EQ(pd.commandsSeen(command::ReceiveSize), 1);
}

TEST_F(Bus, ACommandLargerThanTheReaderTakesIsNotSent)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    Capabilities small = pd.capabilities();
    small.receiveSize = 64;
    pd.setCapabilities(small);
    run(100ms);
    ASSERT_EQ(bus.capabilities(0).receiveSize, 64);
    ASSERT_TRUE(bus.submit(0, TextCommand{0, TextControl::PermanentNoWrap, 0, 1, 1, Bytes(80, 'x')}));
    ASSERT_TRUE(bus.submit(0, Pulse));
    run(100ms);
    EXPECT_EQ(pd.commandsSeen(command::Text), 0);
    EXPECT_EQ(pd.relays().size(), 1u);
    EXPECT_EQ(logs().filter(QStringLiteral("sólo admite 64")).size(), 1);
}

TEST_F(Bus, AReaderWithoutSecureChannelIsSaidPlainlyUnderScOn)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    Capabilities none = pd.capabilities();
    none.secureChannel = false;
    pd.setCapabilities(none);
    run(9s);
    EXPECT_FALSE(bus.online(0));
    EXPECT_EQ(pd.commandsSeen(command::Challenge), 0);
    EXPECT_EQ(logs().filter(QStringLiteral("capacidad 9")).size(), 1);
    EXPECT_TRUE(logs().filter(QStringLiteral("rechaza la clave")).isEmpty());
}

// ---- timing -------------------------------------------------------------------------

TEST_F(Bus, PacketsGoBehindAMarkByteAndAReplyIsAwaitedFromTheEndOfTheWire)
{
    bus.setLineSpeed(9600);
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(500ms);
    ASSERT_TRUE(bus.online(0));
    for (const Bytes& b : raw) {
        ASSERT_GE(b.size(), 2u);
        EXPECT_EQ(b[0], MarkByte);
        EXPECT_EQ(b[1], StartOfMessage);
    }
    pd.setSilent(true);
    commands.clear();
    raw.clear();
    run(600ms);
    ASSERT_GE(commands.size(), 2u);
    // 15 bytes of a sealed poll at 9600 baud: 15.6 ms on the wire, then 200 ms.
    const auto gap = commands[1].at - commands[0].at;
    EXPECT_GE(gap, OsdpBus::ReplyTimeout + bus.wireTime(raw[0].size()));
    EXPECT_LT(gap, OsdpBus::ReplyTimeout + bus.wireTime(raw[0].size()) + 10ms);
}

TEST_F(Bus, TheNextPacketWaitsTwoCharactersAfterAReply)
{
    bus.setLineSpeed(9600); // two characters: 2.08 ms
    addReader(1, ChannelMode::Off, std::nullopt, std::nullopt);
    addReader(2, ChannelMode::Off, std::nullopt, std::nullopt);
    step = 250us;
    run(300ms);
    ASSERT_TRUE(bus.online(0) && bus.online(1));
    commands.clear();
    run(200ms);
    ASSERT_GE(commands.size(), 4u);
    // Each reply is in within the step of its command; the next command,
    // to the other reader of the round, waits out the gap (without it, it
    // would go in the same step).
    int chained = 0;
    for (std::size_t i = 1; i < commands.size(); ++i) {
        if (commands[i].address != commands[i - 1].address && commands[i].at - commands[i - 1].at < 10ms) {
            EXPECT_GE(commands[i].at - commands[i - 1].at, bus.wireTime(2)) << i;
            ++chained;
        }
    }
    EXPECT_GT(chained, 0);
}

TEST_F(Bus, AnIdleReaderIsPolledAtASteadyRateAndTheBusSleepsBetween)
{
    addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(200ms);
    const std::size_t before = commands.size();
    run(1s);
    const auto polls = commands.size() - before;
    EXPECT_LE(polls, 50u);
    EXPECT_GE(polls, 40u);
    // Between two polls there is nothing to do until the next one is due.
    run(10ms); // just after a poll's reply
    const TimePoint wake = bus.nextWakeUp(now);
    EXPECT_GT(wake, now);
    EXPECT_LE(wake, now + OsdpBus::PollInterval);
}

TEST_F(Bus, AfterACardReadThePollsWaitSoTheBarrierFindsTheLineFree)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    run(200ms);
    pd.presentCardNumber(7);
    for (int step = 0; step < 10 && count<CardBitsRead>() == 0; ++step)
        run(5ms);
    ASSERT_EQ(count<CardBitsRead>(), 1);
    commands.clear();
    run(OsdpBus::HoldAfterRead - 10ms);
    EXPECT_TRUE(commands.empty()); // no poll in the way of the decision's relay
    ASSERT_TRUE(bus.submit(0, Pulse));
    run(5ms);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands[0].code, command::Output);
}

// ---- tamper, power and inputs ---------------------------------------------------------

TEST_F(Bus, TamperPowerAndInputsAreReportedOnlineAndAtEveryChange)
{
    PeripheralEmulator& pd = addReader(1, ChannelMode::On, StoredKey, StoredKey);
    pd.setTamper(true);
    run(200ms);
    // Both asked for when it came online.
    ASSERT_EQ(count<LocalStatusChanged>(), 1);
    ASSERT_EQ(count<InputsChanged>(), 1);
    EXPECT_TRUE(facts<LocalStatusChanged>()[0].status.tamper);
    EXPECT_FALSE(facts<LocalStatusChanged>()[0].status.powerLost);
    EXPECT_EQ(facts<InputsChanged>()[0].states, Bytes{0});
    run(1s);
    EXPECT_EQ(count<LocalStatusChanged>() + count<InputsChanged>(), 2); // nothing changed, nothing said
    pd.setTamper(false);
    pd.setPowerLost(true);
    pd.setInput(0, true);
    run(200ms);
    ASSERT_EQ(count<LocalStatusChanged>(), 2);
    ASSERT_EQ(count<InputsChanged>(), 2);
    EXPECT_FALSE(facts<LocalStatusChanged>()[1].status.tamper);
    EXPECT_TRUE(facts<LocalStatusChanged>()[1].status.powerLost);
    EXPECT_EQ(facts<InputsChanged>()[1].states, Bytes{1});
    EXPECT_EQ(logs().filter(QStringLiteral("entradas del lector: 1")).size(), 1);
}

} // namespace
