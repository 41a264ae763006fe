#include "FileSender.h"

#include <gtest/gtest.h>

using namespace parking::osdp;
using Kind = FileSender::Step::Kind;

namespace {

Bytes file(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7);
    return b;
}

FileTransferStatusReply status(std::int16_t s, std::uint16_t updateMax = 0, std::uint16_t delay = 0)
{
    return {0x01, delay, s, updateMax};
}

TEST(FileSender, FragmentsCoverTheFileInOrderAndFitTheReceiveSize)
{
    FileSender sender(3, file(300), 128);
    EXPECT_EQ(sender.fragmentSize(), 128 - FileSender::Overhead);
    Bytes seen;
    for (int guard = 0; guard < 100 && sender.sent() < 300; ++guard) {
        const FileTransferCommand c = sender.next();
        EXPECT_EQ(c.type, 3);
        EXPECT_EQ(c.totalSize, 300u);
        EXPECT_EQ(c.offset, seen.size());
        // The command's whole packet within the reader's 128 bytes.
        EXPECT_LE(static_cast<int>(c.fragment.size()) + FileSender::Overhead, 128);
        seen.insert(seen.end(), c.fragment.begin(), c.fragment.end());
        const auto step = sender.answered(status(0, 0, 25));
        EXPECT_EQ(step.wait, std::chrono::milliseconds(25));
        EXPECT_EQ(step.kind, Kind::Send);
    }
    EXPECT_EQ(seen, file(300));
    // The whole file is in: empty fragments while the reader finishes.
    EXPECT_TRUE(sender.next().fragment.empty());
    EXPECT_EQ(sender.answered(status(3)).kind, Kind::Send);
    const auto done = sender.answered(status(2));
    EXPECT_EQ(done.kind, Kind::Done);
    EXPECT_TRUE(done.restarting);
}

TEST(FileSender, TheReaderSetsTheFragmentAndEveryRefusalEndsWithItsReason)
{
    FileSender sender(1, file(1000), 0); // no receive size said: the usual 128
    EXPECT_EQ(sender.fragmentSize(), FileSender::DefaultReceiveSize - FileSender::Overhead);
    sender.answered(status(0, 40));
    EXPECT_EQ(sender.fragmentSize(), 40);
    sender.answered(status(0, 500));
    EXPECT_EQ(sender.fragmentSize(), 40) << "a reader cannot ask for more than its receive size allows";
    // Too long after all: smaller, the same offset sent again.
    const std::uint32_t at = sender.sent();
    EXPECT_EQ(sender.refused({0, FileSender::Overhead + 20}).kind, Kind::Send);
    EXPECT_EQ(sender.fragmentSize(), 20);
    EXPECT_EQ(sender.next().offset, at);

    const struct {
        std::int16_t code;
        const char* said;
    } refusals[] = {{-1, "(abort)"}, {-2, "(rejected)"}, {-3, "datos no válidos"}, {-9, "estado -9"}};
    for (const auto& r : refusals) {
        FileSender s(1, file(10), 128);
        const auto step = s.answered(status(r.code));
        EXPECT_EQ(step.kind, Kind::Refused) << r.code;
        EXPECT_TRUE(step.reason.contains(QString::fromUtf8(r.said))) << step.reason.toStdString();
    }
    FileSender naked(1, file(10), 128);
    EXPECT_EQ(naked.refused({3, 0}).reason, QStringLiteral("el lector rechaza el fragmento (NAK 3)"));
}

TEST(FileSender, AReaderThatNeverFinishesIsGivenUpOn)
{
    FileSender sender(1, file(10), 128);
    EXPECT_EQ(sender.answered(status(0)).kind, Kind::Send);
    for (int i = 1; i < FileSender::FinishingLimit; ++i)
        ASSERT_EQ(sender.answered(status(3)).kind, Kind::Send) << i;
    EXPECT_EQ(sender.answered(status(3)).kind, Kind::Refused);
}

} // namespace
