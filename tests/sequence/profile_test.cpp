// Profiles as people write them and as they go wrong: every error is listed
// with its line and column, in the order of the lines, and a file that is not
// a profile at all (binary, too large, a header only) says so once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "power/SourceLimits.h"
#include "sequence/Profile.h"

namespace {

const char* kReason[SEQ_REASON_COUNT] = {
    "file size", "step count", "not text", "no steps",  "unknown",      "twice",      "missing",
    "fields",    "quote",      "required", "number",    "outside",      "resolution", "negative",
    "less than", "frequency",  "mixed",    "auto side", "fixed voltage"};

// "line:column:reason" for each error, with the fill-ins after "=".
std::vector<std::string> Listed(const std::string& bytes, int32_t range = SOURCE_RANGE_HIGH) {
    SeqProfile p;
    std::vector<SeqError> errors;
    SeqParseProfile(bytes, &p, &errors);
    SeqCheckProfile(p, range, &errors);
    std::vector<std::string> out;
    for (const SeqError& e : errors) {
        std::string s = std::to_string(e.line) + ":" + e.column + ":" + kReason[e.reason];
        for (const auto& [name, value] : e.values) {
            s += " " + name + "=" + value;
        }
        out.push_back(s);
    }
    return out;
}

using L = std::vector<std::string>;

struct BadProfile {
    const char* name;
    std::string bytes;
    L errors;
    int32_t range = SOURCE_RANGE_HIGH;
};

TEST(Profile, EveryKindOfErrorIsListedWithItsLineAndColumn) {
    const std::string head = "voltage_v,frequency_hz,dwell_s\n";
    const BadProfile cases[] = {
        {"unknown column: said once, the rows still read",
         "voltage_v,frequency_hz,dwell_s,colour\n230,50,5,red\n310,50,5,blue\n",
         {"1:colour:unknown", "3:voltage_v:outside min=1.0 V max=300.0 V"}},
        {"named twice, any case",
         "voltage_v,frequency_hz,Voltage_V,dwell_s\n230,50,230,5\n",
         {"1:Voltage_V:twice"}},
        {"required columns", "voltage_v\n230\n", {"1:frequency_hz:missing", "1:dwell_s:missing"}},
        {"a field too many", head + "230,50,5,7\n", {"2:-:fields count=4 columns=3"}},
        {"a field too few", head + "230,50\n", {"2:-:fields count=2 columns=3"}},
        {"open quote", "voltage_v,frequency_hz,dwell_s,note\n230,50,5,\"open\n", {"2:-:quote"}},
        {"text after a quote",
         "voltage_v,frequency_hz,dwell_s,note\n230,50,5,\"a\"b\n",
         {"2:-:quote"}},
        {"required values",
         head + ",,\n230,,5\n,50,\n",
         {"3:frequency_hz:required", "4:voltage_v:required", "4:dwell_s:required"}},
        {"not numbers",
         head + "230V,5O,1e1\n",
         {"2:voltage_v:number", "2:frequency_hz:number", "2:dwell_s:number"}},
        {"outside the source's voltage and the dwell",
         head + "300.1,50,0.9\n0.9,50,5\n",
         {"2:voltage_v:outside min=1.0 V max=300.0 V", "2:dwell_s:outside min=1.0 s max=604800.0 s",
          "3:voltage_v:outside min=1.0 V max=300.0 V"}},
        {"finer than the resolution",
         head + "230.05,50.01,1.25\n",
         {"2:voltage_v:resolution resolution=0.1 V", "2:frequency_hz:resolution resolution=0.1 Hz",
          "2:dwell_s:resolution resolution=0.1 s"}},
        {"ramp in whole seconds, below the dwell",
         "voltage_v,frequency_hz,dwell_s,ramp_s\n230,50,5,\n220,,5,2.5\n210,,5,5\n",
         {"3:ramp_s:resolution resolution=1 s", "4:ramp_s:less than column=dwell_s"}},
        {"negative limits",
         "voltage_v,frequency_hz,dwell_s,i_max_a,p_max_w,f_tol_hz\n230,50,5,-1,-2,-0.1\n",
         {"2:i_max_a:negative", "2:p_max_w:negative", "2:f_tol_hz:negative"}},
        {"v_min not below v_max",
         "voltage_v,frequency_hz,dwell_s,v_min,v_max\n230,50,5,240,240\n",
         {"2:v_min:less than column=v_max"}},
        {"limits never checked",
         "voltage_v,frequency_hz,dwell_s,settle_s,v_max\n230,50,3,3,240\n",
         {"2:settle_s:less than column=dwell_s"}},
        {"off the frequencies",
         head + "230,70,5\n230,44.9,5\n",
         {"2:frequency_hz:frequency band=45.0-65.0 Hz presets=100, 120, 200, 240, 400 Hz",
          "3:frequency_hz:frequency band=45.0-65.0 Hz presets=100, 120, 200, 240, 400 Hz"}},
        {"carried from a wrong frequency: said once",
         head + "230,70,5\n230,,5\n",
         {"2:frequency_hz:frequency band=45.0-65.0 Hz presets=100, 120, 200, 240, 400 Hz"}},
        {"a preset beside others",
         head + "230,50,5\n230,400,5\n120,120,5\n",
         {"3:frequency_hz:mixed", "4:frequency_hz:mixed"}},
        {"voltage at a fixed frequency",
         head + "120,400,5\n130,,5\n120,,5\n",
         {"3:voltage_v:fixed voltage"}},
        {"across 150.0 V in AUTO",
         head + "150.0,50,5\n150.1,,5\n100,,5\n",
         {"3:voltage_v:auto side boundary=150.0 V"},
         SOURCE_RANGE_AUTO},
        {"from the high side in AUTO",
         head + "150.1,50,5\n150.0,,5\n",
         {"3:voltage_v:auto side boundary=150.0 V"},
         SOURCE_RANGE_AUTO},
        {"binary", head + "230,50,5\n" + std::string("\x01\x00\x02\xff", 4), {"3:-:not text"}},
        {"not UTF-8", head + "230,50,5,\xC3\x28\n", {"2:-:not text"}},
        {"header only", "# nothing yet\n" + head + "\n", {"2:-:no steps"}},
        {"empty", "", {"1:-:no steps"}},
        {"too large", std::string(SEQ_MAX_FILE_BYTES + 1, '#'), {"1:-:file size limit=1 MB"}},
        {"everything at once, in line order",
         "voltage_v,frequency_hz,dwell_s,v_max\n# comment\n999,50,5,\n230,400,0,x\n230,50,5,1,1\n",
         {"3:voltage_v:outside min=1.0 V max=300.0 V", "4:dwell_s:outside min=1.0 s max=604800.0 s",
          "4:v_max:number", "5:-:fields count=5 columns=4"}},
    };
    for (const BadProfile& c : cases) {
        EXPECT_EQ(Listed(c.bytes, c.range), c.errors) << c.name;
    }
    // In HIGH the same steps cross 150.0 V freely.
    EXPECT_EQ(Listed(head + "150.0,50,5\n150.1,,5\n"), L{});
}

TEST(Profile, MoreThanTenThousandStepsIsRefusedAtTheFirstStepTooMany) {
    std::string bytes = "voltage_v,frequency_hz,dwell_s\n";
    for (int i = 0; i < SEQ_MAX_STEPS + 5; ++i) {
        bytes += "230,50,1\n";
    }
    EXPECT_EQ(Listed(bytes), L{"10002:-:step count limit=10000"});
    bytes.resize(bytes.size() - 5 * 9);
    EXPECT_EQ(Listed(bytes), L{});
}

TEST(Profile, ReadsWhatSpreadsheetsAndPeopleWrite) {
    // A byte-order mark, CR LF, any order and case, comments, blank rows,
    // quoted notes, a frequency carried from the step before.
    const std::string bytes = "\xEF\xBB\xBFNote,Dwell_S,VOLTAGE_V,frequency_hz,ramp_s,settle_s,"
                              "v_min,v_max,i_max_a,p_max_w,f_tol_hz\r\n"
                              "# burn-in\r\n"
                              "\"nominal, 50 Hz\",60,230,50,,,220,240,2.5,600,0.5\r\n"
                              ",,,,,,,,,,\r\n"
                              "\r\n"
                              "\"say \"\"low\"\"\",10.5,207.0,,3,0.5,,,,,\r\n";
    SeqProfile p;
    std::vector<SeqError> errors;
    SeqParseProfile(bytes, &p, &errors);
    ASSERT_TRUE(errors.empty()) << SeqErrorText(errors[0], {});
    ASSERT_EQ(p.steps.size(), 2u);
    const SeqStep& a = p.steps[0];
    EXPECT_EQ(a.line, 3);
    EXPECT_EQ(a.note, "nominal, 50 Hz");
    EXPECT_EQ(std::vector<int32_t>({a.vol, a.freq, a.dwell, a.ramp, a.settle, a.vMin, a.vMax,
                                    a.iMax, a.pMax, a.fTol}),
              std::vector<int32_t>({2300, 500, 600, 0, 20, 2200, 2400, 2500, 600, 5}));
    const SeqStep& b = p.steps[1];
    EXPECT_EQ(b.line, 6);
    EXPECT_EQ(b.note, "say \"low\"");
    EXPECT_EQ(std::vector<int32_t>({b.vol, b.freq, b.dwell, b.ramp, b.settle, b.vMin, b.iMax}),
              std::vector<int32_t>({2070, 500, 105, 3, 5, SEQ_NO_LIMIT, SEQ_NO_LIMIT}));
    EXPECT_EQ(SeqProfileMs(p.steps), 70500);
}

TEST(Profile, AFileIsReadUpToItsLimitAndErrorsAreWrittenInTheLanguagesTexts) {
    vx52test::ScratchDir dir(false);
    vx52test::ScratchDir::WriteFile("big.csv", std::string(2 * 1024 * 1024, 'x'));
    vx52test::ScratchDir::WriteFile("ok.csv", "voltage_v,frequency_hz,dwell_s\n120,400,5\n");
    SeqProfile p;
    std::vector<SeqError> errors;
    EXPECT_EQ(SeqReadProfile("missing.csv", &p, &errors), ENOENT);
    EXPECT_EQ(SeqReadProfile("big.csv", &p, &errors), 0);
    ASSERT_EQ(errors.size(), 1u);
    SeqErrorTexts texts;
    texts.line = "第{line}行，{column}列：{reason}";
    texts.reasons[SEQ_ERR_FILE_SIZE] = "文件超过{limit}";
    EXPECT_EQ(SeqErrorText(errors[0], texts), "第1行，-列：文件超过1 MB");
    errors.clear();
    EXPECT_EQ(SeqReadProfile("ok.csv", &p, &errors), 0);
    SeqCheckProfile(p, SOURCE_RANGE_AUTO, &errors);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(p.steps.at(0).freq, 4000);
}

} // namespace
