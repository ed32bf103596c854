// Frame building and the instrument's receive-side framing.
#include <gtest/gtest.h>

#include "SimTestBytes.h"
#include "sim/Frame.h"

using simtest::Of;

namespace {

TEST(SimFrame, BuildsTheKnownRequestFrames) {
    EXPECT_EQ(sim::BuildFrame(1, "RMO", '*', ""),
              Of({0x7B, 0x07, 0x00, 0x01, 0x52, 0x4D, 0x4F, 0x2A, 0x20, 0x7D}));
    EXPECT_EQ(sim::BuildFrame(1, "RTE", '*', ""),
              Of({0x7B, 0x07, 0x00, 0x01, 0x52, 0x54, 0x45, 0x2A, 0x1D, 0x7D}));
    EXPECT_EQ(sim::BuildFrame(1, "CSP", '*', ""),
              Of({0x7B, 0x07, 0x00, 0x01, 0x43, 0x53, 0x50, 0x2A, 0x18, 0x7D}));
    EXPECT_EQ(sim::BuildFrame(1, "CST", '*', ""),
              Of({0x7B, 0x07, 0x00, 0x01, 0x43, 0x53, 0x54, 0x2A, 0x1C, 0x7D}));

    const sim::Bytes sno = sim::BuildFrame(1, "SNO", '=', "2200,0500,05,05,0,1*");
    ASSERT_EQ(sno.size(), 30u);
    EXPECT_EQ(simtest::At(sno, 0, 4), std::string("\x7B\x1B\x00\x01", 4));
    EXPECT_EQ(simtest::At(sno, 4, 24), "SNO=2200,0500,05,05,0,1*");
    EXPECT_EQ(sno[28], 0x03);
    EXPECT_EQ(sno[29], 0x7D);
}

struct Collected {
    std::vector<sim::Bytes> frames;
    std::vector<sim::Bytes> junk;
};

Collected Drain(sim::FrameSplitter& splitter) {
    Collected c;
    sim::FrameSplitter::Piece piece;
    while (splitter.Next(piece)) {
        (piece.isFrame ? c.frames : c.junk).push_back(piece.bytes);
    }
    return c;
}

TEST(SimFrame, SplitterWaitsForAFrameThatArrivesInPieces) {
    const sim::Bytes rte = sim::BuildFrame(1, "RTE", '*', "");
    sim::FrameSplitter splitter;
    splitter.Push(rte.data(), 1);
    EXPECT_TRUE(Drain(splitter).frames.empty());
    splitter.Push(rte.data() + 1, 6);
    EXPECT_TRUE(Drain(splitter).frames.empty());
    EXPECT_TRUE(splitter.HasPartial());
    splitter.Push(rte.data() + 7, rte.size() - 7);
    const Collected c = Drain(splitter);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], rte);
    EXPECT_TRUE(c.junk.empty());
    EXPECT_FALSE(splitter.HasPartial());
}

TEST(SimFrame, SplitterSetsNoiseAsideAndKeepsTheFramesAroundIt) {
    const sim::Bytes rmo = sim::BuildFrame(1, "RMO", '*', "");
    const sim::Bytes rte = sim::BuildFrame(1, "RTE", '*', "");
    sim::Bytes garbled = rte;
    garbled[8] ^= 0x01; // checksum wrong

    sim::Bytes line = {0x00, 0xFF};
    line.insert(line.end(), rmo.begin(), rmo.end());
    line.insert(line.end(), garbled.begin(), garbled.end());
    line.push_back(0x7B); // start mark with an impossible length byte behind it
    line.push_back(0xF0);
    line.insert(line.end(), rte.begin(), rte.end());

    sim::FrameSplitter splitter;
    splitter.Push(line.data(), line.size());
    const Collected c = Drain(splitter);
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[0], rmo);
    EXPECT_EQ(c.frames[1], rte);
    ASSERT_EQ(c.junk.size(), 3u);
    EXPECT_EQ(c.junk[0], Of({0x00, 0xFF}));
    EXPECT_EQ(c.junk[1], garbled);
    EXPECT_EQ(c.junk[2], Of({0x7B, 0xF0}));
}

TEST(SimFrame, SplitterRejectsAFrameWithoutItsEndMarkOrWithByteTwoSet) {
    sim::Bytes noEnd = sim::BuildFrame(1, "RTE", '*', "");
    noEnd.back() = 0x00;
    sim::Bytes byteTwo = sim::BuildFrame(1, "RTE", '*', "");
    byteTwo[2] = 0x01;
    byteTwo[8] = static_cast<uint8_t>(simtest::SumOverLength(byteTwo)); // checksum still right
    for (const sim::Bytes& bad : {noEnd, byteTwo}) {
        sim::FrameSplitter splitter;
        splitter.Push(bad.data(), bad.size());
        const Collected c = Drain(splitter);
        EXPECT_TRUE(c.frames.empty());
        EXPECT_EQ(c.junk.size(), 1u);
    }
}

TEST(SimFrame, WholeFrameBehindAnUnfinishedOneIsTakenAtOnce) {
    // A sender gave up after "{" 0x1B (an SNO header) and then sent a whole state query: the
    // stale length alone would make the splitter wait for bytes that never come.
    const sim::Bytes rte = sim::BuildFrame(1, "RTE", '*', "");
    sim::Bytes line = {0x7B, 0x1B};
    line.insert(line.end(), rte.begin(), rte.end());
    sim::FrameSplitter splitter;
    splitter.Push(line.data(), line.size());
    const Collected c = Drain(splitter);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], rte);
    ASSERT_EQ(c.junk.size(), 1u);
    EXPECT_EQ(c.junk[0], Of({0x7B, 0x1B}));
    EXPECT_FALSE(splitter.HasPartial());
}

TEST(SimFrame, UnfinishedFrameIsGivenUpOnlyWhenDropped) {
    const sim::Bytes rte = sim::BuildFrame(1, "RTE", '*', "");
    sim::FrameSplitter splitter;
    splitter.Push(rte.data(), 5);
    EXPECT_TRUE(Drain(splitter).junk.empty());
    EXPECT_TRUE(splitter.HasPartial());
    EXPECT_EQ(splitter.DropStale(), sim::Bytes(rte.begin(), rte.begin() + 5));
    EXPECT_FALSE(splitter.HasPartial());
}

} // namespace
