// Inputs the fuzz targets found, kept as tests: a store written to a file must
// read back with every item's name and value.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ScratchDir.h"
#include "persist/IniStore.h"

namespace {

using StorePtr = std::unique_ptr<IniStore, void (*)(IniStore*)>;

class IniRoundTripTest : public ScratchDirTest {
  protected:
    static StorePtr Read(const std::string& path) {
        StorePtr store(Ini_New(0), Ini_Dispose);
        EXPECT_EQ(0, Ini_ReadFromFile(store.get(), path.c_str()));
        return store;
    }
    // Reads the text, writes the store to a file and reads that file back.
    static StorePtr RoundTrip(const std::string& text) {
        WriteFile("in.ini", text);
        StorePtr store = Read("in.ini");
        EXPECT_EQ(0, Ini_WriteToFile(store.get(), "out.ini"));
        return Read("out.ini");
    }
    static std::string Raw(IniStore* store, const std::string& section, const std::string& item) {
        std::string buffer(1024, '\0');
        if (Ini_GetRawStringIntoBuffer(store, section.c_str(), item.c_str(), buffer.data(),
                                       static_cast<int>(buffer.size())) != 1) {
            return "(absent)";
        }
        return buffer.c_str();
    }
};

} // namespace

// A line that fits the reader's 255 bytes must still fit once written: the
// blanks around the separator and the " LineNNNN" of continuation lines used
// to push such lines past the limit, and the cut lost the value.
TEST_F(IniRoundTripTest, LinesNearTheLengthLimitReadBackWhole) {
    const std::string longName(253, 'n');
    const std::string midName(170, 'm');
    const std::string chunk(84 - 6, 'v');
    StorePtr store = RoundTrip("[S]\r\n" + longName + "=b\r\n" +      // exactly 255 bytes
                               midName + " Line1=" + chunk + "\r\n" + // joined value of 84
                               midName + " Line2=123456\r\n" +        //
                               "Short = " + std::string(200, 's') + "\r\n");
    EXPECT_EQ("b", Raw(store.get(), "S", longName));
    EXPECT_EQ(chunk + "123456", Raw(store.get(), "S", midName));
    EXPECT_EQ(std::string(200, 's'), Raw(store.get(), "S", "Short"));
    for (size_t start = 0, end;
         (end = ReadFile("out.ini").find("\r\n", start)) != std::string::npos; start = end + 2) {
        EXPECT_LE(end - start, 255u) << "line at " << start;
    }
    // Lines of ordinary length keep their blanks around the separator.
    EXPECT_NE(std::string::npos, ReadFile("out.ini").find("Short Line0001 = sss"));
}

// A run of continuation lines named "C  Line1" gives the item "C", not "C "
// with a trailing blank that reading the written file would then drop.
TEST_F(IniRoundTripTest, ContinuationBaseNamesLoseTrailingBlanks) {
    WriteFile("in.ini", "[S]\r\nC \f Line1 = r\r\nT  Line0001 = x\r\nT Line0002 = y\r\n");
    StorePtr store = Read("in.ini");
    ASSERT_EQ(0, Ini_WriteToFile(store.get(), "out.ini"));
    EXPECT_EQ("[S]\r\nC = r\r\nT = xy\r\n\r\n", ReadFile("out.ini"));
}

// A section name ending on a lead byte without its trail byte: written right
// before "]", the lead byte took the bracket for its trail on reading, so the
// header was no header and its section vanished.
TEST_F(IniRoundTripTest, SectionNameEndingOnALoneLeadByteKeepsItsHeader) {
    StorePtr store = RoundTrip("[Value\xDD ]\r\nVol = 2\r\n[\xD6\xD0]\r\nX = 3\r\n");
    EXPECT_EQ("2", Raw(store.get(), "Value\xDD", "Vol"));
    EXPECT_EQ("3", Raw(store.get(), "\xD6\xD0", "X"));
    // A whole double-byte character at the end needs no blank.
    EXPECT_EQ("[Value\xDD ]\r\nVol = 2\r\n\r\n[\xD6\xD0]\r\nX = 3\r\n\r\n", ReadFile("out.ini"));
}
