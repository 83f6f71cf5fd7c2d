// The offline AS table: the published CSV read by the converter, the program's file written and read
// back, hostile files refused, and the lookup tool agreeing with the source address by address.
#include <cstdio>
#include <map>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "formats/asn/asn_table.h"
#include "formats/io/io.h"
#include "qqwry_builder.h"
#include "shell.h"
#include "temp_dir.h"
#include "tools/asn2dat/convert.h"

using namespace rt::testing;

namespace {

std::span<const uint8_t> Bytes(const std::string &s) { return {reinterpret_cast<const uint8_t *>(s.data()), s.size()}; }

// The answer a table must give, computed from the source's lines alone: the range that starts last
// at or before the address, when the address is inside it ("ASN<TAB>NAME"), else "-<TAB>-".
class Model {
  public:
    explicit Model(const std::string &csv) {
        std::istringstream lines(csv);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string first, last, asn, name;
            std::getline(fields, first, ',');
            std::getline(fields, last, ',');
            std::getline(fields, asn, ',');
            std::getline(fields, name);
            if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.size() - 2);
            for (size_t at; (at = name.find("\"\"")) != std::string::npos;) name.erase(at, 1);
            ranges_[uint32_t(std::stoul(first))] = {uint32_t(std::stoul(last)), asn + "\t" + name};
        }
    }
    std::string Lookup(uint32_t address) const {
        auto it = ranges_.upper_bound(address);
        if (it == ranges_.begin() || (--it)->second.first < address) return "-\t-";
        return it->second.second;
    }

  private:
    std::map<uint32_t, std::pair<uint32_t, std::string>> ranges_;
};

// What asn-lookup prints for each address, one line each, the addresses given on standard input.
std::vector<std::string> LookUp(const std::string &table, const std::vector<uint32_t> &addresses) {
    TempDir dir;
    std::string input;
    for (uint32_t a : addresses) input += QqwryBuilder::Dotted(a) + "\n";
    dir.write("in", input);
    std::istringstream out(Shell(std::string(ASN_LOOKUP) + " --db " + table + " <" + dir.file("in")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    return lines;
}

// Checks the tool against the model on random addresses and on the edges of every range.
void ExpectAgreement(const std::string &table, const std::string &csv, size_t count) {
    Model model(csv);
    std::mt19937 random(20261210);
    std::vector<uint32_t> addresses;
    for (size_t i = 0; i < count; ++i) addresses.push_back(uint32_t(random()));
    std::vector<std::string> got = LookUp(table, addresses);
    ASSERT_EQ(got.size(), addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i)
        ASSERT_EQ(got[i], QqwryBuilder::Dotted(addresses[i]) + "\t" + model.Lookup(addresses[i])) << i;
}

} // namespace

TEST(AsnConvert, ReadsThePublishedCsvAndRefusesWhatItCannotRead) {
    const struct {
        const char *csv;
        const char *ranges; // "first-last:asn:name;" each, or the problem and line
    } cases[] = {
        {"16777216,16777471,13335,\"Cloudflare, Inc.\"\r\n", "16777216-16777471:13335:Cloudflare, Inc.;"},
        {"1.0.4.0,1.0.7.255,38803,Gtelecom Pty Ltd\n", "16778240-16779263:38803:Gtelecom Pty Ltd;"},
        {"5,6,1,\"a \"\"b\"\"\"\n1,2,1,\n", "1-2:1:;5-6:1:a \"b\";"},
        {"1,2,7,x\n3,4,7,x\n5,6,8,x\n", "1-4:7:x;5-6:8:x;"}, // neighbours of one network joined
        {"1,10,7,x\n5,12,8,y\n", "1-4:7:x;5-12:8:y;"},       // one starting inside another ends it
        {"1,10,7,x\n1,12,8,y\n", "Overlapping 2"},           // two starting at one address
        {"1,2,3\n", "BadLine 1"},                            // three fields
        {"\n1,2,3,\"open\n", "BadLine 2"},                   // a quote never closed
        {"1.2.3,1.2.3.4,5,x\n", "BadAddress 1"},             // not an address
        {"9,8,5,x\n", "BadAddress 1"},                       // ends before it starts
        {"1,2,4294967296,x\n", "BadNumber 1"},               // past 32 bits
        {"1,2,-5,x\n", "BadNumber 1"},
    };
    const char *problems[] = {"BadLine", "BadAddress", "BadNumber", "Overlapping"};
    for (const auto &c : cases) {
        auto read = asn2dat::ReadCsv(c.csv);
        std::string got;
        if (read)
            for (const asn::Range &r : *read)
                got += std::to_string(r.first) + "-" + std::to_string(r.last) + ":" + std::to_string(r.asn) + ":" +
                       r.name + ";";
        else got = std::string(problems[int(read.error().problem)]) + " " + std::to_string(read.error().line);
        EXPECT_EQ(got, c.ranges) << c.csv;
    }
}

TEST(AsnTable, HostileFilesAreRefusedAndNoLookupLeavesTheFile) {
    auto table = asn::Write({{10, 20, 4134, "CHINANET"}, {30, 40, 4809, ""}}, 20260617);
    ASSERT_TRUE(table);
    std::string good(table->begin(), table->end());
    auto patched = [&](size_t at, uint32_t v) {
        std::string s = good;
        for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char(v >> (8 * i));
        return s;
    };
    const struct {
        const char *what;
        std::string bytes;
        asn::Problem problem;
    } cases[] = {
        {"short", good.substr(0, 31), asn::Problem::ShortHeader},
        {"magic", "X" + good.substr(1), asn::Problem::BadMagic},
        {"version", patched(4, 2), asn::Problem::BadVersion},
        {"cut short", good.substr(0, good.size() - 1), asn::Problem::SizeMismatch},
        {"a count past the file", patched(8, 0x15555556), asn::Problem::SizeMismatch},
        {"out of order", patched(32 + 12, 15), asn::Problem::RangeOutOfOrder},
        {"backwards", patched(32 + 4, 5), asn::Problem::RangeOutOfOrder},
        {"network index", patched(32 + 8, 2), asn::Problem::NetworkOutside},
        {"name offset", patched(32 + 24 + 4, 1000), asn::Problem::NameOutside},
    };
    for (const auto &c : cases) {
        auto opened = asn::Table::Open(Bytes(c.bytes));
        ASSERT_FALSE(opened) << c.what;
        EXPECT_EQ(opened.error().code, c.problem) << c.what;
    }
    // A name without its NUL at the very end reads as no name.
    std::string unended = good.substr(0, good.size() - 1) + "x";
    auto opened = asn::Table::Open(Bytes(unended));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->Lookup(35)->name, "");
    auto t = asn::Table::Open(Bytes(good));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->date(), 20260617u);
    EXPECT_EQ(t->Lookup(10)->name, "CHINANET");
    EXPECT_EQ(t->Lookup(20)->asn, 4134u);
    for (uint32_t outside : {0u, 9u, 21u, 29u, 41u, 0xFFFFFFFFu}) EXPECT_FALSE(t->Lookup(outside)) << outside;
}

// A table of the test's own, made as the real one is (asn2dat), and read by asn-lookup.
TEST(AsnTable, TheLookupToolAgreesWithTheSourceOnRandomAddresses) {
    std::mt19937 random(7);
    std::string csv;
    for (uint64_t at = random() % 1000; at < 0xFFFFFF00u; at += 1 + random() % 2000000) {
        uint64_t last = std::min<uint64_t>(at + random() % 1000000, 0xFFFFFFFFu);
        uint32_t asn = uint32_t(random() % 70000);
        csv += std::to_string(at) + "," + std::to_string(last) + "," + std::to_string(asn) + ",\"AS " +
               std::to_string(asn) + ", \"\"org\"\"\"\n";
        at = last;
    }
    TempDir dir;
    dir.write("asn.csv", csv);
    ASSERT_EQ(
        Shell(std::string(ASN2DAT) + " " + dir.file("asn.csv") + " " + dir.file("asn.dat") + " >/dev/null && echo ok"),
        "ok\n");
    ExpectAgreement(dir.file("asn.dat"), csv, 20000);
}

TEST(RealAsnTable, TheLookupToolAgreesWithThePublishedTable) {
    auto csv = rt::io::ReadFile(REAL_ASN_SOURCE, size_t(1) << 30);
    if (!csv || !std::filesystem::exists(REAL_ASN)) GTEST_SKIP() << "no AS table: scripts/fetch-asn fetches it";
    ExpectAgreement(REAL_ASN, *csv, 20000);
}
