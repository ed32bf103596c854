// Frames, the model query, the command encoder and the reply decoder.
#include <random>

#include "link/Command.h"
#include "link/Frame.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"
#include "LinkTestSupport.h"

namespace {

class CodecTest : public ::testing::Test {
protected:
    void SetUp() override {
        PowerRecordsReset();
        CommSchedulerReset();
        gPowerInfo.address = 1;
    }
    void TearDown() override { CommSchedulerReset(); }

    // Runs the decoder on a buffer that ends at an unreadable page.
    static int Rx(int kind, int sub, const Bytes& bytes) {
        GuardedBytes g(bytes);
        return CommRx(kind, sub, 0, g.data(), static_cast<int>(bytes.size()));
    }
    static int ModelRx(const Bytes& bytes, char* name, int32_t* no) {
        GuardedBytes g(bytes);
        return ModelQueryRx(g.data(), static_cast<int>(bytes.size()), name, no);
    }
    static Bytes Tx(int kind, int sub) {
        Bytes buf(64, 0xEE);
        const int n = CommTx(kind, sub, 0, buf.data());
        buf.resize(static_cast<size_t>(n));
        return buf;
    }
};

const Bytes kModelReply = ReplyFrame(1, "RMO=VX52123PAB");

TEST_F(CodecTest, ChecksumAndDigits) {
    EXPECT_EQ(GetStringCheckSum(reinterpret_cast<const uint8_t*>("abc"), 3), 294);
    EXPECT_EQ(GetStringCheckSum(reinterpret_cast<const uint8_t*>("abc"), 3) & 0xFF, 38);
    EXPECT_EQ(GetStringCheckSum(reinterpret_cast<const uint8_t*>("\xFF\xFF"), 2), 510);
    EXPECT_EQ(GetStringCheckSum(reinterpret_cast<const uint8_t*>("abc"), 0), 0);
    EXPECT_EQ(GetASCIIToInt(reinterpret_cast<const uint8_t*>("042"), 3), 42);
    EXPECT_EQ(GetASCIIToInt(reinterpret_cast<const uint8_t*>("042"), 0), 0);
    EXPECT_EQ(GetASCIIToInt(reinterpret_cast<const uint8_t*>("042"), -1), 0);
}

TEST_F(CodecTest, RequestsAreByteExact) {
    uint8_t buf[16];
    EXPECT_EQ(ModelQueryTx(buf), 10);
    EXPECT_EQ(Bytes(buf, buf + 10), (Bytes{0x7B, 0x07, 0x00, 0x01, 0x52, 0x4D, 0x4F, 0x2A, 0x20, 0x7D}));
    EXPECT_EQ(Tx(240, 235), (Bytes{0x7B, 0x07, 0x00, 0x01, 0x52, 0x54, 0x45, 0x2A, 0x1D, 0x7D}));
    const Bytes stop{0x7B, 0x07, 0x00, 0x01, 0x43, 0x53, 0x50, 0x2A, 0x18, 0x7D};
    EXPECT_EQ(Tx(15, 0), stop);
    EXPECT_EQ(Tx(15, 10), stop);
    EXPECT_EQ(Tx(15, 255), (Bytes{0x7B, 0x07, 0x00, 0x01, 0x43, 0x53, 0x54, 0x2A, 0x1C, 0x7D}));
    EXPECT_EQ(Tx(240, 237), Bytes(buf, buf + 10));
    EXPECT_EQ(Tx(165, 33), ReplyFrame(1, "RNS*"));
    EXPECT_EQ(Tx(240, 17), ReplyFrame(1, "RNT*"));

    gNormal52PSet = Normal52PSet{500, 2200, 1, 5, 5, 0, 0, 0, 0};
    Bytes sno{0x7B, 0x1B, 0x00, 0x01};
    for (char ch : std::string("SNO=2200,0500,05,05,0,1*")) {
        sno.push_back(static_cast<uint8_t>(ch));
    }
    sno.push_back(0x03);
    sno.push_back(0x7D);
    EXPECT_EQ(Tx(90, 80), sno);
    EXPECT_EQ(Tx(90, 33), sno);

    gNormal52PSet = Normal52PSet{4000, 35, 0, 30, 12, 6, 0, 0, 0};
    EXPECT_EQ(Tx(90, 33), ReplyFrame(1, "SNO=0035,4000,30,12,6,0*"));
    gNormal52PSet.freq = 450;
    EXPECT_EQ(Tx(90, 33), ReplyFrame(1, "SNO=0035,0450,30,12,6,0*"));

    gPowerInfo.address = 255;
    EXPECT_EQ(Tx(240, 235), ReplyFrame(255, "RTE*"));

    // Not commands: nothing built, buffer untouched.
    for (auto [kind, sub] :
         std::initializer_list<std::pair<int, int>>{{90, 1}, {165, 17}, {0, 0}, {15, 1}, {240, 0}}) {
        Bytes untouched(64, 0xEE);
        EXPECT_EQ(CommTx(kind, sub, 0, untouched.data()), 0);
        EXPECT_EQ(untouched, Bytes(64, 0xEE));
        EXPECT_EQ(Rx(kind, sub, ReplyFrame(1, "RTE=0xx")), 0);
    }
}

TEST_F(CodecTest, ModelReplyAcceptedOnlyWhenEveryTestPasses) {
    char name[12] = "unchanged";
    int32_t no = -7;
    ASSERT_EQ(kModelReply.size(), 20u);
    EXPECT_EQ(ModelRx(kModelReply, name, &no), 1);
    EXPECT_STREQ(name, "VX52123P");
    EXPECT_EQ(no, 123);

    Bytes seven = ReplyFrame(1, "RMO=VX00007000");
    EXPECT_EQ(ModelRx(seven, name, &no), 1);
    EXPECT_EQ(no, 7);
    // Offsets 13 and 14 are not required to be digits.
    EXPECT_EQ(ModelRx(ReplyFrame(1, "RMO=VX123:AB00"), name, &no), 1);

    // Bytes after the frame are ignored.
    Bytes longer = kModelReply;
    longer.push_back('x');
    EXPECT_EQ(ModelRx(longer, name, &no), 1);

    std::vector<Bytes> bad;
    Bytes b = kModelReply;
    b[18]++; // checksum off by one
    bad.push_back(b);
    bad.push_back(ReplyFrame(2, "RMO=VX52123PAB"));
    bad.push_back(ReplyFrame(1, "RMO=XV52123PAB"));
    bad.push_back(ReplyFrame(1, "RMO=VXa2123PAB"));
    bad.push_back(ReplyFrame(1, "RMO=VX5a123PAB"));
    bad.push_back(ReplyFrame(1, "RMO=VX52/23PAB"));
    bad.push_back(ReplyFrame(1, "RMA=VX52123PAB"));
    bad.push_back(ReplyFrame(1, "RMO=VX52123PABC")); // wrong length byte
    b = kModelReply;
    b[2] = 1;
    b[18] = static_cast<uint8_t>(b[18] + 1);
    bad.push_back(b); // byte 2 must be 0, checksum kept right
    Bytes stray{0x00};
    stray.insert(stray.end(), kModelReply.begin(), kModelReply.end());
    bad.push_back(stray); // no resynchronisation
    for (size_t n = 0; n < 20; ++n) {
        bad.push_back(Bytes(kModelReply.begin(), kModelReply.begin() + static_cast<long>(n)));
    }
    for (const Bytes& r : bad) {
        char nm[12] = "unchanged";
        int32_t num = -7;
        EXPECT_EQ(ModelRx(r, nm, &num), 0) << r.size();
        EXPECT_STREQ(nm, "unchanged");
        EXPECT_EQ(num, -7);
    }
}

TEST_F(CodecTest, OutputAndSettingsAcknowledgements) {
    gPowerInfo.alarm = 1;
    gPowerInfo.riseCountdown = 9;
    gArrMeasureOutput[0] = 2200;
    EXPECT_EQ(Rx(15, 255, ReplyFrame(1, "CST==00")), 1);
    EXPECT_EQ(gPowerInfo.outputOn, 1);
    EXPECT_EQ(gPowerInfo.alarm, 0);
    EXPECT_EQ(gPowerInfo.riseCountdown, 0);
    EXPECT_EQ(gArrMeasureOutput[0], 0);

    gArrMeasureOutput[3] = 5;
    EXPECT_EQ(Rx(90, 33, ReplyFrame(1, "SNO==00")), 1);
    EXPECT_EQ(gPowerInfo.outputOn, 1); // settings keep the output and the values
    EXPECT_EQ(gArrMeasureOutput[3], 5);

    for (int sub : {0, 10}) {
        gPowerInfo.outputOn = 1;
        EXPECT_EQ(Rx(15, sub, ReplyFrame(1, "CSP==00")), 1);
        EXPECT_EQ(gPowerInfo.outputOn, 0);
        EXPECT_EQ(gArrMeasureOutput[3], 0);
    }

    // Refusals are answers that change nothing.
    gPowerInfo.alarm = 1;
    EXPECT_EQ(Rx(90, 80, ReplyFrame(1, "SNO=!00")), -1);
    EXPECT_EQ(Rx(15, 255, ReplyFrame(1, "CST=!00")), -1);
    EXPECT_EQ(gPowerInfo.alarm, 1);
    EXPECT_EQ(gPowerInfo.outputOn, 0);

    // Wrong mnemonic, another address, a short frame: no acceptable reply.
    EXPECT_EQ(Rx(15, 255, ReplyFrame(1, "CSP==00")), 0);
    EXPECT_EQ(Rx(15, 255, ReplyFrame(2, "CST==00")), 0);
    EXPECT_EQ(Rx(15, 255, ReplyFrame(1, "CST==0")), 0);
    EXPECT_EQ(Rx(15, 255, Bytes{}), 0);
    EXPECT_EQ(gPowerInfo.outputOn, 0);
}

TEST_F(CodecTest, StateReplies) {
    gArrMeasureOutput[1] = 1234;
    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RTE=200")), 1);
    EXPECT_EQ(gPowerState, '2');
    EXPECT_EQ(gPowerInfo.outputOn, 1);
    EXPECT_EQ(gArrMeasureOutput[1], 1234);
    EXPECT_EQ(gCommNewCmd.count, 0);

    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RTE=400")), 1);
    EXPECT_EQ(gPowerInfo.outputOn, 0);
    EXPECT_EQ(gPowerInfo.alarm, 1);
    EXPECT_EQ(gArrMeasureOutput[1], 0);

    for (char s : {'1', '3'}) {
        gPowerInfo.outputOn = 1;
        gPowerInfo.alarm = 1;
        CommClearNewCmdAll();
        EXPECT_EQ(Rx(240, 235, ReplyFrame(1, std::string("RTE=") + s + "00")), 1);
        EXPECT_EQ(gPowerInfo.outputOn, 0);
        EXPECT_EQ(gPowerInfo.alarm, 0);
        ASSERT_EQ(gCommNewCmd.count, 1) << s; // a stop is queued
        EXPECT_EQ(gCommNewCmd.group[0], 15);
        EXPECT_EQ(gCommNewCmd.cmd[0], 15);
        EXPECT_EQ(gCommNewCmd.subCmd[0], 0);
    }
    CommClearNewCmdAll();
    gPowerInfo.outputOn = 1;
    gPowerInfo.alarm = 1;
    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RTE=900")), 1);
    EXPECT_EQ(gPowerState, '9');
    EXPECT_EQ(gPowerInfo.outputOn, 0);
    EXPECT_EQ(gPowerInfo.alarm, 0);
    EXPECT_EQ(gCommNewCmd.count, 0);

    // A state reply that is short or foreign still counts as answered, while
    // an acknowledgement of the same size does not.
    gPowerState = 'k';
    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RTE=20")), -1);
    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RNT=200")), -1);
    EXPECT_EQ(Rx(15, 0, ReplyFrame(1, "CSP==0")), 0);
    EXPECT_EQ(Rx(240, 235, ReplyFrame(3, "RTE=200")), 0);
    EXPECT_EQ(gPowerState, 'k');
}

TEST_F(CodecTest, SettingsQueryReply) {
    EXPECT_EQ(Rx(165, 33, ReplyFrame(1, "RNS=220.0,50.0,07,09,3,1,*")), 1);
    EXPECT_EQ(gNormal52PSet.vol, 2200);
    EXPECT_EQ(gNormal52PSet.freq, 500);
    EXPECT_EQ(gNormal52PSet.up2U, 7);
    EXPECT_EQ(gNormal52PSet.down2U, 9);
    EXPECT_EQ(gNormal52PSet.auxCode, 3);
    EXPECT_EQ(gNormal52PSet.volLevel, 1);

    // Stored as received, without validation; the level is 1 only for "1".
    EXPECT_EQ(Rx(165, 33, ReplyFrame(1, "RNS=999.9,4000,99,00,9,x,*")), 1);
    EXPECT_EQ(gNormal52PSet.vol, 9999);
    EXPECT_EQ(gNormal52PSet.freq, 4000);
    EXPECT_EQ(gNormal52PSet.up2U, 99);
    EXPECT_EQ(gNormal52PSet.down2U, 0);
    EXPECT_EQ(gNormal52PSet.volLevel, 0);

    // A non-digit where a digit is read: answered, but nothing is stored.
    const Normal52PSet before = gNormal52PSet;
    for (const char* text : {"RNS=22x.0,50.0,07,09,3,1,*", "RNS=220.0,5 .0,07,09,3,1,*",
                             "RNS=220.0,50.x,07,09,3,1,*", "RNS=220.0,50.0,0-,09,3,1,*",
                             "RNS=220.0,50.0,07,:9,3,1,*", "RNS=220.0,50.0,07,09,!,1,*",
                             "RNS=220.0,4/00,07,09,3,1,*"}) {
        EXPECT_EQ(Rx(165, 33, ReplyFrame(1, text)), -1) << text;
        EXPECT_EQ(std::memcmp(&gNormal52PSet, &before, sizeof before), 0) << text;
    }
    EXPECT_EQ(Rx(165, 33, ReplyFrame(1, "RNS=220.0,50.0,07,09,3,")), 0); // 29 bytes
    EXPECT_EQ(Rx(165, 33, ReplyFrame(1, "RNT=220.0,50.0,07,09,3,1,*")), 0);
}

TEST_F(CodecTest, MeasurementReply) {
    auto rnt = [](const std::string& cur, const std::string& freq, const std::string& pow) {
        return ReplyFrame(1, "RNT=220.5," + cur + "," + freq + "," + pow + ",*");
    };
    gPowerInfo.outputOn = 1;
    struct Case {
        std::string cur, freq, pow;
        int32_t wantCur, wantFreq, wantPow;
    };
    const Case cases[] = {
        {"1.2345", "50.0", "1234.5", 1235, 500, 1235},
        {"12.345", "4000", "0000.4", 12345, 4000, 0},
        {"123.45", "60.1", "x12345", 123450, 601, 1235},
        {"123456", "45.0", "000009", 0, 450, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Rx(240, 17, rnt(c.cur, c.freq, c.pow)), 1) << c.cur;
        EXPECT_EQ(gArrMeasureOutput[0], 2205);
        EXPECT_EQ(gArrMeasureOutput[1], c.wantCur) << c.cur;
        EXPECT_EQ(gArrMeasureOutput[2], c.wantFreq) << c.freq;
        EXPECT_EQ(gArrMeasureOutput[3], c.wantPow) << c.pow;
    }

    int32_t before[MEASURE_COUNT];
    std::memcpy(before, gArrMeasureOutput, sizeof before);
    for (const Bytes& r : {ReplyFrame(1, "RNT=!"), rnt("1.2x45", "50.0", "1234.5"),
                           rnt("1.2345", "5a.0", "1234.5"), rnt("1.2345", "50.0", "12 4.5"),
                           rnt("1.2345", "50.0", "12345a"), ReplyFrame(1, "RNT=220.5,1.2345")}) {
        EXPECT_EQ(Rx(240, 17, r), -1);
        EXPECT_EQ(std::memcmp(gArrMeasureOutput, before, sizeof before), 0);
    }
    EXPECT_EQ(Rx(240, 17, ReplyFrame(1, "RNS=220.5,1.2345,50.0,1234.5,*")), 0);
}

// Whatever arrives, the decoders never read past it and never change a record
// unless they report the reply as accepted (or, for a state reply, answered).
TEST_F(CodecTest, ArbitraryBytesNeverCrashOrCorrupt) {
    std::mt19937 rng(52);
    const std::pair<int, int> commands[] = {{15, 0},   {15, 255},  {90, 33},  {165, 33},
                                            {240, 17}, {240, 235}, {240, 237}};
    const Bytes seeds[] = {kModelReply, ReplyFrame(1, "RNS=220.0,50.0,07,09,3,1,*"),
                           ReplyFrame(1, "RNT=220.5,1.2345,50.0,1234.5,*"),
                           ReplyFrame(1, "RTE=200"), ReplyFrame(1, "CST==00")};
    for (int i = 0; i < 20000; ++i) {
        Bytes r;
        if (i % 2 == 0) {
            r.resize(rng() % 300);
            for (auto& byte : r) {
                byte = static_cast<uint8_t>(rng());
            }
            if (!r.empty() && rng() % 2) {
                r[0] = 0x7B;
            }
            if (r.size() > 3 && rng() % 2) {
                r[3] = 1;
            }
        } else {
            // A valid reply, cut, stretched or with bytes flipped.
            r = seeds[rng() % std::size(seeds)];
            r.resize(rng() % (r.size() + 8), static_cast<uint8_t>(rng()));
            for (int k = static_cast<int>(rng() % 3); k > 0 && !r.empty(); --k) {
                r[rng() % r.size()] = static_cast<uint8_t>(rng());
            }
        }
        const auto [kind, sub] = commands[rng() % std::size(commands)];
        PowerRecordsReset();
        gPowerInfo.address = 1;
        CommClearNewCmdAll();
        const Normal52PSet set = gNormal52PSet;
        const PowerInfo info = gPowerInfo;
        const int result = Rx(kind, sub, r);
        ASSERT_TRUE(result == -1 || result == 0 || result == 1);
        if (result == 1) {
            continue;
        }
        ASSERT_EQ(std::memcmp(&gNormal52PSet, &set, sizeof set), 0) << i;
        ASSERT_EQ(std::memcmp(&gPowerInfo, &info, sizeof info), 0) << i;
        ASSERT_EQ(gCommNewCmd.count, 0);
    }
}

} // namespace
