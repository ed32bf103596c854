// The output-settings record: range test, validation, step ladder, model set-up.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "UiTestSupport.h"
#include "persist/SettingsFiles.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "ui/Vx52PSoftUi.h"

namespace {

class PowerRecordsTest : public ::testing::Test {
  protected:
    void SetUp() override { PowerRecordsReset(); }
    void TearDown() override { PowerRecordsReset(); }

    // A record that passes validation, with a ladder that validation must not touch.
    static Normal52PSet ValidSettings() {
        return Normal52PSet{600, 1200, 1, 10, 20, 3, 11, 22, 33};
    }
};

bool SameSettings(const Normal52PSet& a, const Normal52PSet& b) {
    return std::memcmp(&a, &b, sizeof(Normal52PSet)) == 0;
}

} // namespace

TEST_F(PowerRecordsTest, NumOutBoundIsInclusiveInEitherOrder) {
    EXPECT_EQ(0, NumOutBound(10, 1, 10));
    EXPECT_EQ(0, NumOutBound(1, 10, 1));
    EXPECT_EQ(0, NumOutBound(5, 5, 5));
    EXPECT_EQ(1, NumOutBound(0, 1, 10));
    EXPECT_EQ(1, NumOutBound(11, 10, 1));
    EXPECT_EQ(1, NumOutBound(-6, -5, 5));
    EXPECT_EQ(0, NumOutBound(-5, 5, -5));

    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(0, NumOutBound(kMin, kMax, kMin));
    EXPECT_EQ(0, NumOutBound(kMax, kMin, kMax));
    EXPECT_EQ(1, NumOutBound(kMin, 0, kMax));
    EXPECT_EQ(1, NumOutBound(kMax, kMin, 0));
}

TEST_F(PowerRecordsTest, ValidBoundaryValuesPassUnchanged) {
    const int32_t freqs[] = {450, 650, 1000, 1200, 2000, 2400, 4000};
    for (int32_t freq : freqs) {
        Normal52PSet s = ValidSettings();
        s.freq = freq;
        gNormal52PSet = s;
        EXPECT_EQ(0, Data52PCheck()) << "freq " << freq;
        EXPECT_TRUE(SameSettings(s, gNormal52PSet)) << "freq " << freq;
    }

    const Normal52PSet low{450, 10, 0, 5, 5, 0, 0, 0, 0};
    gNormal52PSet = low;
    EXPECT_EQ(0, Data52PCheck());
    EXPECT_TRUE(SameSettings(low, gNormal52PSet));

    const Normal52PSet high{650, 3000, 1, 30, 30, 6, -1, -1, -1};
    gNormal52PSet = high;
    EXPECT_EQ(0, Data52PCheck());
    EXPECT_TRUE(SameSettings(high, gNormal52PSet));
}

TEST_F(PowerRecordsTest, EachBadFieldAloneIsReplaced) {
    struct Case {
        int32_t Normal52PSet::*field;
        int32_t bad;
        int32_t replacement;
        const char* what;
    };
    const Case cases[] = {
        {&Normal52PSet::freq, 449, 500, "freq 449"},
        {&Normal52PSet::freq, 651, 500, "freq 651"},
        {&Normal52PSet::freq, 700, 500, "freq 700"},
        {&Normal52PSet::freq, 999, 500, "freq 999"},
        {&Normal52PSet::freq, 1001, 500, "freq 1001"},
        {&Normal52PSet::freq, 0, 500, "freq 0"},
        {&Normal52PSet::freq, -1000, 500, "freq -1000"},
        {&Normal52PSet::vol, 9, 2200, "vol 9"},
        {&Normal52PSet::vol, 3001, 2200, "vol 3001"},
        {&Normal52PSet::volLevel, 2, 1, "volLevel 2"},
        {&Normal52PSet::volLevel, -1, 1, "volLevel -1"},
        {&Normal52PSet::up2U, 4, 5, "up2U 4"},
        {&Normal52PSet::up2U, 31, 5, "up2U 31"},
        {&Normal52PSet::down2U, -5, 5, "down2U -5"},
        {&Normal52PSet::down2U, 31, 5, "down2U 31"},
        {&Normal52PSet::auxCode, 7, 0, "auxCode 7"},
        {&Normal52PSet::auxCode, -1, 0, "auxCode -1"},
    };
    for (const Case& c : cases) {
        Normal52PSet expected = ValidSettings();
        gNormal52PSet = expected;
        gNormal52PSet.*c.field = c.bad;
        expected.*c.field = c.replacement;
        EXPECT_EQ(1, Data52PCheck()) << c.what;
        EXPECT_TRUE(SameSettings(expected, gNormal52PSet)) << c.what;
    }
}

TEST_F(PowerRecordsTest, SeveralBadFieldsAreAllReplacedInOneCall) {
    gNormal52PSet = Normal52PSet{651, 3001, 2, 4, -5, 7, 1, 2, 3};
    EXPECT_EQ(1, Data52PCheck());
    const Normal52PSet expected{500, 2200, 1, 5, 5, 0, 1, 2, 3};
    EXPECT_TRUE(SameSettings(expected, gNormal52PSet));
    EXPECT_EQ(0, Data52PCheck());
}

TEST_F(PowerRecordsTest, ZeroedRecordBecomesFirstStartDefaults) {
    EXPECT_EQ(1, Data52PCheck());
    const Normal52PSet expected{500, 2200, 0, 5, 5, 0, 0, 0, 0};
    EXPECT_TRUE(SameSettings(expected, gNormal52PSet));
}

TEST_F(PowerRecordsTest, StepLadderLevels) {
    struct Case {
        int32_t vol, volLevel, up2U, down2U;
        int32_t low, high;
        const char* what;
    };
    const Case cases[] = {
        {2200, 1, 5, 5, 2150, 2250, "HIGH 220.0 V"},
        {2200, 0, 5, 5, 2150, 2250, "AUTO 220.0 V, far from the range line"},
        {1480, 0, 5, 5, 1430, 1500, "AUTO 148.0 V: high capped at 150.0 V"},
        {1520, 0, 5, 5, 1501, 1570, "AUTO 152.0 V: low raised to 150.1 V"},
        {1500, 0, 5, 5, 1450, 1500, "AUTO exactly 150.0 V counts as the low side"},
        {1501, 0, 5, 5, 1501, 1551, "AUTO 150.1 V counts as the high side"},
        {1480, 1, 5, 5, 1430, 1530, "HIGH may cross 150.0 V"},
        {1520, 1, 5, 5, 1470, 1570, "HIGH may cross 150.0 V downwards"},
        {30, 1, 5, 5, 10, 80, "HIGH 3.0 V: low clamped to 1.0 V"},
        {30, 0, 5, 5, 10, 80, "AUTO 3.0 V: low clamped to 1.0 V"},
        {2980, 1, 5, 5, 2930, 3000, "HIGH 298.0 V: high clamped to 300.0 V"},
        {2980, 0, 5, 5, 2930, 3000, "AUTO 298.0 V: high clamped to 300.0 V"},
        {1000, 0, 30, 30, 700, 1300, "AUTO wide steps below the line"},
        {1700, 0, 30, 30, 1501, 2000, "AUTO wide steps above the line"},
    };
    for (const Case& c : cases) {
        PowerRecordsReset();
        gNormal52PSet.freq = 500;
        gNormal52PSet.vol = c.vol;
        gNormal52PSet.volLevel = c.volLevel;
        gNormal52PSet.up2U = c.up2U;
        gNormal52PSet.down2U = c.down2U;
        gNormal52PSet.auxCode = 4;
        Cal52PPowerUpDown(1);

        const Normal52PSet expected{500, c.vol, c.volLevel, c.up2U, c.down2U,
                                    4,   c.vol, c.high,     c.low};
        EXPECT_TRUE(SameSettings(expected, gNormal52PSet))
            << c.what << ": got low " << gNormal52PSet.upDownLow << " base "
            << gNormal52PSet.upDownBase << " high " << gNormal52PSet.upDownHigh;
    }
}

TEST_F(PowerRecordsTest, StepLadderClearedByDisable) {
    gNormal52PSet = Normal52PSet{500, 2200, 1, 5, 5, 0, 0, 0, 0};
    Cal52PPowerUpDown(1);
    ASSERT_EQ(2200, gNormal52PSet.upDownBase);

    Cal52PPowerUpDown(0);
    const Normal52PSet expected{500, 2200, 1, 5, 5, 0, 0, 0, 0};
    EXPECT_TRUE(SameSettings(expected, gNormal52PSet));
}

TEST_F(PowerRecordsTest, OtherModelTypesChangeNothing) {
    // Out-of-range settings would be repaired by any read of the autosave file,
    // so an untouched record shows that nothing was loaded or validated.
    const Normal52PSet bad{7, 1, 9, 99, -3, 8, 1, 2, 3};
    for (int modelType : {0, 2, -1, 52}) {
        for (int online : {0, 1}) {
            PowerRecordsReset();
            gNormal52PSet = bad;
            gPowerInfo.online = online;
            gPowerInfo.outputOn = 1;
            gPowerState = '2';
            gArrMeasureOutput[0] = 2201;
            const PowerInfo infoBefore = gPowerInfo;

            ModelF52PChoose(modelType);
            ModelTypeChoose(modelType);

            EXPECT_TRUE(SameSettings(bad, gNormal52PSet)) << "model type " << modelType;
            EXPECT_EQ(0, std::memcmp(&infoBefore, &gPowerInfo, sizeof(PowerInfo)));
            EXPECT_EQ('2', gPowerState);
            EXPECT_EQ(2201, gArrMeasureOutput[0]);
        }
    }
}

TEST_F(PowerRecordsTest, ClearMeasureAndResetZeroEverything) {
    for (int i = 0; i < MEASURE_COUNT; ++i) {
        gArrMeasureOutput[i] = 100 + i;
    }
    gNormal52PSet = ValidSettings();
    PowerClearMeasure();
    for (int i = 0; i < MEASURE_COUNT; ++i) {
        EXPECT_EQ(0, gArrMeasureOutput[i]) << "index " << i;
    }
    EXPECT_TRUE(SameSettings(ValidSettings(), gNormal52PSet));

    gPowerInfo.online = 1;
    gPowerInfo.baudRate = 9600;
    std::strcpy(gPowerInfo.modelName, "ABCDEFGH");
    gPowerState = '1';
    gArrMeasureOutput[9] = 5;
    PowerRecordsReset();

    const Normal52PSet zeroSettings{};
    const PowerInfo zeroInfo{};
    EXPECT_TRUE(SameSettings(zeroSettings, gNormal52PSet));
    EXPECT_EQ(0, std::memcmp(&zeroInfo, &gPowerInfo, sizeof(PowerInfo)));
    EXPECT_EQ(0, gPowerState);
    EXPECT_EQ(0, gArrMeasureOutput[9]);
}

namespace {

class ModelSetUpTest : public vx52test::MainWindowTest {
  protected:
    // Leaves an autosave file holding 60.0 Hz, 123.4 V, HIGH, steps 10 and 20,
    // and a record that differs from it in every saved field.
    void PrepareAutosaveAndRecord() {
        gNormal52PSet = Normal52PSet{600, 1234, 1, 10, 20, 0, 0, 0, 0};
        ASSERT_EQ(1, FileWriteNormal52P(AUTOSAVE_FILE));
        gNormal52PSet = Normal52PSet{1000, 2500, 0, 15, 25, 2, 0, 0, 0};
    }
};

} // namespace

TEST_F(ModelSetUpTest, OfflineLoadsAutosaveAndShowsIt) {
    PrepareAutosaveAndRecord();
    gPowerInfo.online = 0;
    ModelTypeChoose(1);

    EXPECT_EQ(600, gNormal52PSet.freq);
    EXPECT_EQ(1234, gNormal52PSet.vol);
    EXPECT_EQ(1, gNormal52PSet.volLevel);
    EXPECT_EQ(10, gNormal52PSet.up2U);
    EXPECT_EQ(20, gNormal52PSet.down2U);
    EXPECT_DOUBLE_EQ(123.4, Value(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(60.0, Value(PANEL_NUM_FREQ));
}

TEST_F(ModelSetUpTest, OnlineKeepsTheSourcesSettings) {
    PrepareAutosaveAndRecord();
    const Normal52PSet fromSource = gNormal52PSet;
    gPowerInfo.online = 1;
    ModelF52PChoose(1);

    EXPECT_TRUE(SameSettings(fromSource, gNormal52PSet));
    EXPECT_DOUBLE_EQ(250.0, Value(PANEL_NUM_VOL));
    EXPECT_DOUBLE_EQ(100.0, Value(PANEL_NUM_FREQ));
}
