// Frames, the model query, the command encoder and the reply decoder. Every
// reply is decoded from a buffer that ends at an unreadable page.
#include <random>

#include "LinkTestSupport.h"
#include "link/Command.h"
#include "link/Frame.h"
#include "link/Scheduler.h"
#include "power/PowerRecords.h"

namespace {

class CodecTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PowerRecordsReset();
        CommSchedulerReset();
        gPowerInfo.address = 1;
    }
    void TearDown() override { CommSchedulerReset(); }

    static int Rx(int kind, int sub, const Bytes& bytes) {
        GuardedBytes g(bytes);
        return CommRx(kind, sub, 0, g.data(), static_cast<int>(bytes.size()));
    }
    static Bytes Tx(int kind, int sub) {
        Bytes buf(64, 0xEE);
        buf.resize(static_cast<size_t>(CommTx(kind, sub, 0, buf.data())));
        return buf;
    }
};

const Bytes kModelReply = ReplyFrame(1, "RMO=VX52123PAB");
const std::string kSettings = "RNS=220.0,50.0,07,09,3,1,*";
const std::string kMeasure = "RNT=220.5,1.2345,50.0,1234.5,*";

TEST_F(CodecTest, ChecksumAndDigits) {
    const auto* abc = reinterpret_cast<const uint8_t*>("abc");
    EXPECT_EQ(GetStringCheckSum(abc, 3), 294);
    EXPECT_EQ(GetStringCheckSum(abc, 3) & 0xFF, 38);
    EXPECT_EQ(GetStringCheckSum(abc, 0), 0);
    EXPECT_EQ(GetStringCheckSum(reinterpret_cast<const uint8_t*>("\xFF\xFF"), 2), 510);
    EXPECT_EQ(GetASCIIToInt(reinterpret_cast<const uint8_t*>("042"), 3), 42);
    EXPECT_EQ(GetASCIIToInt(reinterpret_cast<const uint8_t*>("042"), 0), 0);
}

TEST_F(CodecTest, RequestsAreByteExact) {
    uint8_t model[16];
    EXPECT_EQ(ModelQueryTx(model), 10);
    EXPECT_EQ(Bytes(model, model + 10), (Bytes{0x7B, 7, 0, 1, 'R', 'M', 'O', '*', 0x20, 0x7D}));
    EXPECT_EQ(Tx(240, 237), Bytes(model, model + 10));
    EXPECT_EQ(Tx(240, 235), (Bytes{0x7B, 7, 0, 1, 'R', 'T', 'E', '*', 0x1D, 0x7D}));
    const Bytes stop{0x7B, 7, 0, 1, 'C', 'S', 'P', '*', 0x18, 0x7D};
    EXPECT_EQ(Tx(15, 0), stop);
    EXPECT_EQ(Tx(15, 10), stop);
    EXPECT_EQ(Tx(15, 255), (Bytes{0x7B, 7, 0, 1, 'C', 'S', 'T', '*', 0x1C, 0x7D}));
    EXPECT_EQ(Tx(165, 33), ReplyFrame(1, "RNS*"));
    EXPECT_EQ(Tx(240, 17), ReplyFrame(1, "RNT*"));

    gNormal52PSet = Normal52PSet{500, 2200, 1, 5, 5, 0, 0, 0, 0};
    Bytes sno{0x7B, 0x1B, 0, 1};
    for (char ch : std::string("SNO=2200,0500,05,05,0,1*")) {
        sno.push_back(static_cast<uint8_t>(ch));
    }
    sno.insert(sno.end(), {0x03, 0x7D});
    EXPECT_EQ(Tx(90, 80), sno);
    EXPECT_EQ(Tx(90, 33), sno);
    gNormal52PSet = Normal52PSet{4000, 35, 0, 30, 12, 6, 0, 0, 0};
    EXPECT_EQ(Tx(90, 33), ReplyFrame(1, "SNO=0035,4000,30,12,6,0*"));
    gNormal52PSet.freq = 450;
    gPowerInfo.address = 255;
    EXPECT_EQ(Tx(90, 33), ReplyFrame(255, "SNO=0035,0450,30,12,6,0*"));

    // Not commands: nothing built, the buffer untouched, no reply accepted.
    for (auto [kind, sub] : std::vector<std::pair<int, int>>{{90, 1}, {165, 17}, {0, 0}, {15, 1}}) {
        Bytes untouched(64, 0xEE);
        EXPECT_EQ(CommTx(kind, sub, 0, untouched.data()), 0);
        EXPECT_EQ(untouched, Bytes(64, 0xEE));
        EXPECT_EQ(Rx(kind, sub, ReplyFrame(255, "RTE=0xx")), 0);
    }
}

TEST_F(CodecTest, ModelReplyAcceptedOnlyWhenEveryTestPasses) {
    auto modelRx = [](const Bytes& r, char* name, int32_t* no) {
        GuardedBytes g(r);
        return ModelQueryRx(g.data(), static_cast<int>(r.size()), name, no);
    };
    char name[12] = "";
    int32_t no = 0;
    EXPECT_EQ(modelRx(kModelReply, name, &no), 1);
    EXPECT_STREQ(name, "VX52123P");
    EXPECT_EQ(no, 123);
    EXPECT_EQ(modelRx(ReplyFrame(1, "RMO=VX00007000"), name, &no), 1);
    EXPECT_EQ(no, 7);
    EXPECT_EQ(modelRx(ReplyFrame(1, "RMO=VX123:AB00"), name, &no), 1); // 13, 14 unchecked
    Bytes longer = kModelReply;
    longer.push_back('x'); // bytes after the frame are ignored
    EXPECT_EQ(modelRx(longer, name, &no), 1);

    std::vector<Bytes> bad = {ReplyFrame(2, "RMO=VX52123PAB"), ReplyFrame(1, "RMO=XV52123PAB"),
                              ReplyFrame(1, "RMO=VXa2123PAB"), ReplyFrame(1, "RMO=VX5a123PAB"),
                              ReplyFrame(1, "RMO=VX52/23PAB"), ReplyFrame(1, "RMA=VX52123PAB"),
                              ReplyFrame(1, "RMO=VX52123PABC")};
    Bytes b = kModelReply;
    b[18]++; // checksum off by one
    bad.push_back(b);
    b[2] = 1; // byte 2 not 0, checksum right again
    bad.push_back(b);
    b = kModelReply;
    b.insert(b.begin(), 0x00); // no resynchronisation after a stray byte
    bad.push_back(b);
    for (long n = 0; n < 20; ++n) { // every truncation, 19 bytes included
        bad.emplace_back(kModelReply.begin(), kModelReply.begin() + n);
    }
    for (const Bytes& r : bad) {
        char nm[12] = "unchanged";
        int32_t num = -7;
        EXPECT_EQ(modelRx(r, nm, &num), 0) << r.size();
        EXPECT_STREQ(nm, "unchanged");
        EXPECT_EQ(num, -7);
    }
}

TEST_F(CodecTest, AcknowledgementsAndRefusals) {
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
    EXPECT_EQ(gPowerInfo.outputOn, 1); // the output and the values stay
    EXPECT_EQ(gArrMeasureOutput[3], 5);
    for (int sub : {0, 10}) {
        gPowerInfo.outputOn = 1;
        EXPECT_EQ(Rx(15, sub, ReplyFrame(1, "CSP==00")), 1);
        EXPECT_EQ(gPowerInfo.outputOn, 0);
        EXPECT_EQ(gArrMeasureOutput[3], 0);
    }

    gPowerInfo.alarm = 1;
    EXPECT_EQ(Rx(90, 80, ReplyFrame(1, "SNO=!00")), -1);
    EXPECT_EQ(Rx(15, 255, ReplyFrame(1, "CST=!00")), -1);
    EXPECT_EQ(Rx(15, 255, ReplyFrame(1, "CSP==00")), 0);
    EXPECT_EQ(Rx(15, 255, ReplyFrame(2, "CST==00")), 0);
    EXPECT_EQ(Rx(15, 255, ReplyFrame(1, "CST==0")), 0); // 12 bytes
    EXPECT_EQ(gPowerInfo.alarm, 1);
    EXPECT_EQ(gPowerInfo.outputOn, 0);
}

TEST_F(CodecTest, StateReplies) {
    gArrMeasureOutput[1] = 1234;
    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RTE=200")), 1);
    EXPECT_EQ(gPowerState, '2');
    EXPECT_EQ(gPowerInfo.outputOn, 1);
    EXPECT_EQ(gArrMeasureOutput[1], 1234);

    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RTE=400")), 1);
    EXPECT_EQ(gPowerInfo.outputOn, 0);
    EXPECT_EQ(gPowerInfo.alarm, 1);
    EXPECT_EQ(gArrMeasureOutput[1], 0);

    for (char s : {'1', '3', '9'}) {
        gPowerInfo.outputOn = 1;
        gPowerInfo.alarm = 1;
        CommClearNewCmdAll();
        EXPECT_EQ(Rx(240, 235, ReplyFrame(1, std::string("RTE=") + s + "00")), 1);
        EXPECT_EQ(gPowerState, s);
        EXPECT_EQ(gPowerInfo.outputOn, 0);
        EXPECT_EQ(gPowerInfo.alarm, 0);
        // "1" and "3" queue a stop; anything else does not.
        EXPECT_EQ(gCommNewCmd.count, s == '9' ? 0 : 1);
        EXPECT_EQ(gCommNewCmd.cmd[0] * 1000 + gCommNewCmd.subCmd[0], s == '9' ? 0 : 15000);
    }

    // A short or foreign state reply still counts as answered.
    gPowerState = 'k';
    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RTE=20")), -1);
    EXPECT_EQ(Rx(240, 235, ReplyFrame(1, "RNT=200")), -1);
    EXPECT_EQ(Rx(240, 235, ReplyFrame(3, "RTE=200")), 0);
    EXPECT_EQ(gPowerState, 'k');
}

TEST_F(CodecTest, SettingsQueryReply) {
    EXPECT_EQ(Rx(165, 33, ReplyFrame(1, kSettings)), 1);
    const Normal52PSet want{500, 2200, 1, 7, 9, 3, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&gNormal52PSet, &want, sizeof want), 0);

    // Stored as received, without validation; the level is 1 only for "1".
    EXPECT_EQ(Rx(165, 33, ReplyFrame(1, "RNS=999.9,4000,99,00,9,x,*")), 1);
    const Normal52PSet raw{4000, 9999, 0, 99, 0, 9, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&gNormal52PSet, &raw, sizeof raw), 0);

    // A non-digit where a digit is read: answered, but nothing is stored.
    for (const char* text :
         {"RNS=22x.0,50.0,07,09,3,1,*", "RNS=220.0,5 .0,07,09,3,1,*", "RNS=220.0,50.x,07,09,3,1,*",
          "RNS=220.0,4/00,07,09,3,1,*", "RNS=220.0,50.0,0-,09,3,1,*", "RNS=220.0,50.0,07,:9,3,1,*",
          "RNS=220.0,50.0,07,09,!,1,*"}) {
        EXPECT_EQ(Rx(165, 33, ReplyFrame(1, text)), -1) << text;
        EXPECT_EQ(std::memcmp(&gNormal52PSet, &raw, sizeof raw), 0) << text;
    }
    EXPECT_EQ(Rx(165, 33, ReplyFrame(1, "RNS=220.0,50.0,07,09,3,")), 0); // 29 bytes
    EXPECT_EQ(Rx(165, 33, ReplyFrame(1, kMeasure)), 0);
}

TEST_F(CodecTest, MeasurementReply) {
    gPowerInfo.outputOn = 1;
    struct Case {
        const char *cur, *freq, *pow;
        int32_t wantCur, wantFreq, wantPow;
    };
    const Case cases[] = {
        {"1.2345", "50.0", "1234.5", 1235, 500, 1235}, // rounded
        {"12.345", "4000", "0000.4", 12345, 4000, 0},
        {"123.45", "60.1", "x12345", 123450, 601, 1235},
        {"123456", "45.0", "000009", 0, 450, 1}, // no point: no current
    };
    auto rnt = [](const char* cur, const char* freq, const char* pow) {
        return ReplyFrame(1, std::string("RNT=220.5,") + cur + "," + freq + "," + pow + ",*");
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
    for (const Bytes& r : {ReplyFrame(1, "RNT=!"), ReplyFrame(1, "RNT=220.5,1.2345"),
                           rnt("1.2x45", "50.0", "1234.5"), rnt("1.2345", "5a.0", "1234.5"),
                           rnt("1.2345", "50.0", "12 4.5"), rnt("1.2345", "50.0", "12345a")}) {
        EXPECT_EQ(Rx(240, 17, r), -1);
        EXPECT_EQ(std::memcmp(gArrMeasureOutput, before, sizeof before), 0);
    }
    EXPECT_EQ(Rx(240, 17, ReplyFrame(1, kSettings)), 0);
}

// Whatever arrives, the decoders never read past it and change no record
// unless they accept the reply.
TEST_F(CodecTest, ArbitraryBytesNeverCrashOrCorrupt) {
    std::mt19937 rng(52);
    const std::pair<int, int> commands[] = {{15, 0},   {15, 255},  {90, 33},  {165, 33},
                                            {240, 17}, {240, 235}, {240, 237}};
    const Bytes seeds[] = {kModelReply, ReplyFrame(1, kSettings), ReplyFrame(1, kMeasure),
                           ReplyFrame(1, "RTE=200"), ReplyFrame(1, "CST==00")};
    for (int i = 0; i < 20000; ++i) {
        Bytes r = seeds[rng() % std::size(seeds)];
        if (i % 2 == 0) { // noise that looks like a frame start
            r.assign(rng() % 300, 0);
            for (auto& byte : r) {
                byte = static_cast<uint8_t>(rng());
            }
            if (r.size() > 3) {
                r[0] = 0x7B;
                r[3] = 1;
            }
        } else { // a valid reply, cut or stretched, with bytes flipped
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
        if (result != 1) {
            ASSERT_EQ(std::memcmp(&gNormal52PSet, &set, sizeof set), 0) << i;
            ASSERT_EQ(std::memcmp(&gPowerInfo, &info, sizeof info), 0) << i;
            ASSERT_EQ(gCommNewCmd.count, 0);
            ASSERT_EQ(gArrMeasureOutput[0] | gArrMeasureOutput[1] | gArrMeasureOutput[3], 0);
        }
    }
}

} // namespace
