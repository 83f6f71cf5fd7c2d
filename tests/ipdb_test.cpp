// Location lookups on small databases that each test writes itself.
#include <sys/stat.h>

#include "host_fixture.h"
#include "app/ipdb/ipdb.h"
#include "qqwry_builder.h"
#include "recording_frontend.h"
#include "temp_dir.h"

using namespace rt::testing;
using Q = QqwryBuilder;

namespace {

const char kChina[] = "\xD6\xD0\xB9\xFA";   // 中国
const char kBeijing[] = "\xB1\xB1\xBE\xA9"; // 北京

class Database : public ::testing::Test {
  protected:
    std::string Save(const std::string &bytes, const std::string &name = "QQWry.dat") {
        dir_.write(name, bytes);
        return dir_.file(name);
    }
    std::string Lookup(const std::string &path, const char *address) {
        return Owned(LookupLocation(address, path.c_str())).str();
    }
    TempDir dir_;
};

} // namespace

TEST_F(Database, RangesAreInclusiveAndGapsAndAddressesBelowTheFirstAreEmpty) {
    Q b;
    uint32_t r1 = b.Simple(Q::Ip("1.0.0.255"), "one", "first");
    uint32_t r2 = b.Simple(Q::Ip("2.0.0.10"), "two", "second");
    b.Index(Q::Ip("1.0.0.0"), r1);
    b.Index(Q::Ip("2.0.0.0"), r2);
    std::string db = Save(b.Finish());
    EXPECT_EQ(Lookup(db, "1.0.0.0"), "one first");
    EXPECT_EQ(Lookup(db, "1.0.0.255"), "one first");
    EXPECT_EQ(Lookup(db, "1.0.1.0"), "") << "in the gap behind the first range";
    EXPECT_EQ(Lookup(db, "0.255.255.255"), "") << "below the first entry";
    EXPECT_EQ(Lookup(db, "2.0.0.5"), "two second");
    EXPECT_EQ(Lookup(db, "2.0.0.11"), "");
}

TEST_F(Database, TheUpperHalfComparesUnsigned) {
    Q b;
    std::vector<std::pair<const char *, uint32_t>> ranges;
    const char *starts[] = {"0.0.0.0", "100.0.0.0", "127.255.255.0", "128.0.0.0", "200.0.0.0", "255.255.255.0"};
    const char *ends[] = {"99.255.255.255",  "127.255.254.255", "127.255.255.255",
                          "199.255.255.255", "255.255.254.255", "255.255.255.255"};
    for (int i = 0; i < 6; ++i) b.Index(Q::Ip(starts[i]), b.Simple(Q::Ip(ends[i]), "r" + std::to_string(i), ""));
    std::string db = Save(b.Finish());
    EXPECT_EQ(Lookup(db, "127.255.255.255"), "r2");
    EXPECT_EQ(Lookup(db, "128.0.0.0"), "r3");
    EXPECT_EQ(Lookup(db, "200.1.2.3"), "r4");
    EXPECT_EQ(Lookup(db, "255.255.255.255"), "r5");
    EXPECT_EQ(Lookup(db, "0.0.0.0"), "r0");
    EXPECT_EQ(Lookup(db, "100.0.0.0"), "r1") << "an exact hit on a midpoint";
}

TEST_F(Database, AddressTextsAreReducedToFourBytes) {
    EXPECT_EQ(AddressToNumber("1.2.3.4"), 0x01020304);
    EXPECT_EQ(AddressToNumber("255.255.255.255"), 4294967295LL);
    EXPECT_EQ(AddressToNumber("1.2.3.300"), AddressToNumber("1.2.3.44"));
    EXPECT_EQ(AddressToNumber("1.2.3.-1"), AddressToNumber("1.2.3.255"));
    EXPECT_EQ(AddressToNumber("1.2.3"), 0) << "three parts";
    EXPECT_EQ(AddressToNumber("1.2.3.4.5"), 0);
    EXPECT_EQ(AddressToNumber("host.example"), 0);
    EXPECT_EQ(AddressToNumber("\xA3\xB1.\xA3\xB2.3.4"), 0x00000304) << "four parts already: nothing is normalised";
    EXPECT_EQ(AddressToNumber("\xA3\xB1\xA3\xAE\xA3\xB2\xA3\xAE"
                              "3\xA3\xAE"
                              "4"),
              0x01020304)
        << "full-width digits and dots after normalising";
    EXPECT_EQ(AddressToNumber("1\xA1\xA3"
                              "2\xA1\xA3"
                              "3\xA1\xA3"
                              "4"),
              0x01020304)
        << "ideographic full stops";
    EXPECT_EQ(Owned(PadHex8("2C")).str(), "0000002C");
    EXPECT_EQ(Owned(PadHex8("123456789")).str(), "123456789");
    EXPECT_EQ(Owned(SwapHexPairs("04030201")).str(), "01020304");
    EXPECT_EQ(Owned(SwapHexPairs("201")).str(), "01020000");
    EXPECT_EQ(HexToNumber("ffffffff"), 4294967295LL);
    EXPECT_EQ(HexToNumber("0A"), 10);
    EXPECT_EQ(HexToNumber(""), 0);

    Q b;
    b.Index(0, b.Simple(Q::Ip("0.0.0.255"), "zero", ""));
    b.Index(Q::Ip("1.2.3.0"), b.Simple(Q::Ip("1.2.3.255"), "net", ""));
    std::string db = Save(b.Finish());
    EXPECT_EQ(Lookup(db, "1.2.3.300"), "net");
    EXPECT_EQ(Lookup(db, "not an address"), "zero") << "looked up as 0.0.0.0";
}

TEST_F(Database, RedirectModesAtEveryLevel) {
    Q b;
    // Texts and fields stored elsewhere, reached through redirects.
    uint32_t country = b.Put(Q::Text(kChina));
    uint32_t area = b.Put(Q::Text(kBeijing));
    uint32_t countryField = b.Put(Q::Text("Country") + Q::Text("Area"));         // country and area in place
    uint32_t viaTwo = b.Put("\x02" + Q::Pos3(country) + "\x02" + Q::Pos3(area)); // mode 2 field, area behind
    uint32_t chain = b.Put("\x01" + Q::Pos3(area));                              // a target that redirects again
    uint32_t third = b.Put("\x02" + Q::Pos3(chain));                             // a text three redirects from P
    uint32_t fourth = b.Put("\x02" + Q::Pos3(third));                            // leads to a third mode byte

    // 1. Mode 1 at P: both fields at Q.
    b.Index(Q::Ip("1.0.0.0"), b.Record(Q::Ip("1.0.0.255"), "\x01" + Q::Pos3(countryField)));
    // 2. Mode 1 at P whose Q starts with 0x02: country through it, area at Q + 4.
    b.Index(Q::Ip("2.0.0.0"), b.Record(Q::Ip("2.0.0.255"), "\x01" + Q::Pos3(viaTwo)));
    // 3. Mode 2 at P: country redirected, area at P + 4 in place.
    b.Index(Q::Ip("3.0.0.0"), b.Record(Q::Ip("3.0.0.255"), "\x02" + Q::Pos3(country) + Q::Text("here")));
    // 4. Area field redirected with mode 1 to a target that redirects once more.
    b.Index(Q::Ip("4.0.0.0"), b.Record(Q::Ip("4.0.0.255"), Q::Text("c") + "\x01" + Q::Pos3(chain)));
    // 5. Mode 2 at P, then two redirects in the country field: the text lies three redirects away.
    b.Index(Q::Ip("5.0.0.0"), b.Record(Q::Ip("5.0.0.255"), "\x02" + Q::Pos3(third) + Q::Text("a")));
    // 6. One redirect more: the country reader's third mode byte is read as text.
    b.Index(Q::Ip("6.0.0.0"), b.Record(Q::Ip("6.0.0.255"), "\x02" + Q::Pos3(fourth) + Q::Text("a")));
    std::string db = Save(b.Finish());

    EXPECT_EQ(Lookup(db, "1.0.0.1"), "Country Area");
    EXPECT_EQ(Lookup(db, "2.0.0.1"), std::string(kChina) + " " + kBeijing);
    EXPECT_EQ(Lookup(db, "3.0.0.1"), std::string(kChina) + " here");
    EXPECT_EQ(Lookup(db, "4.0.0.1"), std::string("c ") + kBeijing);
    std::string asText = "\x01" + Q::Pos3(area);
    asText.resize(asText.find('\0')); // the mode byte and the position, read as a text up to its NUL
    EXPECT_EQ(Lookup(db, "5.0.0.1"), std::string(kBeijing) + " a");
    EXPECT_EQ(Lookup(db, "6.0.0.1"), asText + " a") << "only two redirects are followed from a field";
}

TEST_F(Database, CountryInPlaceCountsChineseBytes) {
    Q b;
    b.Index(Q::Ip("9.0.0.0"), b.Simple(Q::Ip("9.0.0.255"), kChina, kBeijing));
    std::string db = Save(b.Finish());
    EXPECT_EQ(Lookup(db, "9.0.0.9"), std::string(kChina) + " " + kBeijing);
}

TEST_F(Database, FillerIsDroppedAndTextsJoinByTheFourRules) {
    Q b;
    uint32_t filler = b.Put(Q::Text(" CZ88.NET"));
    auto add = [&](const char *start, const std::string &country, const std::string &areaField) {
        b.Index(Q::Ip(start), b.Record(Q::Ip(start) + 255, Q::Text(country) + areaField));
    };
    add("1.0.0.0", "c", "\x02" + Q::Pos3(filler)); // filler behind a redirect, blank in front
    add("2.0.0.0", "c", Q::Text(" cz88.Net \t"));  // any case, blanks around
    add("3.0.0.0", "", Q::Text("CZ88.NET"));       // country empty, area only filler
    add("4.0.0.0", "", Q::Text(""));               // both empty
    add("5.0.0.0", "same", Q::Text("same"));       // equal texts once
    add("6.0.0.0", "", Q::Text("area"));           // country empty: area alone, no space
    add("7.0.0.0", "CZ88.NET", Q::Text("x"));      // the country is never tested
    add("8.0.0.0", "c", Q::Text(" a "));           // a kept area keeps its blanks
    std::string db = Save(b.Finish());
    EXPECT_EQ(Lookup(db, "1.0.0.1"), "c");
    EXPECT_EQ(Lookup(db, "2.0.0.1"), "c");
    EXPECT_EQ(Lookup(db, "3.0.0.1"), "");
    EXPECT_EQ(Lookup(db, "4.0.0.1"), "");
    EXPECT_EQ(Lookup(db, "5.0.0.1"), "same");
    EXPECT_EQ(Lookup(db, "6.0.0.1"), "area");
    EXPECT_EQ(Lookup(db, "7.0.0.1"), "CZ88.NET x");
    EXPECT_EQ(Lookup(db, "8.0.0.1"), "c  a ");
}

TEST_F(Database, DefaultAndMissingPathsAndTheEmptyAddress) {
    Q b;
    b.Index(Q::Ip("10.0.0.0"), b.Simple(Q::Ip("10.0.0.255"), "default", ""));
    Save(b.Finish(), "qqwry.DAT"); // another letter case is found as well
    ScopedRecorder recorder;
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    EXPECT_EQ(Owned(LookupLocation("10.0.0.1", nullptr)).str(), "default") << "\".\\QQWry.dat\" in the current folder";
    std::filesystem::current_path(previous);
    EXPECT_TRUE(recorder->messages().empty());

    EXPECT_EQ(Lookup(dir_.file("missing.dat"), "10.0.0.1"), "");
    EXPECT_EQ(Lookup(dir_.file("missing.dat"), "10.0.0.2"), "");
    auto messages = recorder->messages();
    ASSERT_EQ(messages.size(), 2u) << "one message for every lookup that cannot open the file";
    EXPECT_EQ(messages[0].text, "\xC3\xBB\xD5\xD2\xB5\xBD\xCA\xFD\xBE\xDD\xBF\xE2"); // 没找到数据库
    EXPECT_FALSE(messages[0].hasTitle);

    EXPECT_EQ(Lookup(dir_.file("missing.dat"), ""), "");
    EXPECT_EQ(recorder->messages().size(), 2u) << "the empty address touches no file";
    EXPECT_EQ(rt::Runtime::Instance().files().OpenCount(), 0u);
}

TEST_F(Database, EveryRangeOfSmallIndexesIsFound) {
    // The search's first level tests the last entry before halving; with one or two entries too.
    for (int entries = 1; entries <= 5; ++entries) {
        Q b;
        for (int i = 0; i < entries; ++i) {
            uint32_t start = uint32_t(i + 1) << 24;
            b.Index(start, b.Simple(start + 0xFFFF, "r" + std::to_string(i), ""));
        }
        std::string db = Save(b.Finish());
        for (int i = 0; i < entries; ++i) {
            std::string address = std::to_string(i + 1) + ".0.0.7";
            EXPECT_EQ(Lookup(db, address.c_str()), "r" + std::to_string(i)) << entries << " entries";
        }
    }
}

#ifndef _WIN32 // FIFOs and /dev/zero
TEST_F(Database, ADatabaseThatIsNoRegularFileIsMissingNotAWait) {
    ASSERT_EQ(::mkfifo(dir_.file("fifo.dat").c_str(), 0600), 0); // opening it for reading would wait for ever
    std::filesystem::create_symlink("/dev/zero", dir_.file("zero.dat"));
    for (const char *name : {"fifo.dat", "zero.dat"}) EXPECT_EQ(Lookup(dir_.file(name), "1.2.3.4"), "") << name;
}
#endif
