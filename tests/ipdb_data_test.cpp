// Lookups on corrupt databases (each must end with a text, without fault) and on the real database
// (each must agree with an independent reader).
#include <cstdio>
#include <filesystem>
#include <random>

#include "host_fixture.h"
#include "app/ipdb/ipdb.h"
#include "qqwry_builder.h"
#include "qqwry_reference.h"
#include "recording_frontend.h"
#include "temp_dir.h"

using namespace rt::testing;
using Q = QqwryBuilder;

namespace {

const char *const kProbeAddresses[] = {"0.0.0.0", "1.2.3.4", "9.0.0.1", "128.0.0.1", "255.255.255.255", "x"};

std::string ValidDatabase() {
    Q b;
    uint32_t text = b.Put(Q::Text("\xD6\xD0\xB9\xFA"));
    uint32_t both = b.Put(Q::Text("c") + Q::Text("a"));
    b.Index(0, b.Simple(Q::Ip("0.255.255.255"), "zero", " CZ88.NET"));
    b.Index(Q::Ip("1.0.0.0"), b.Record(Q::Ip("1.255.255.255"), "\x01" + Q::Pos3(both)));
    b.Index(Q::Ip("9.0.0.0"), b.Record(Q::Ip("9.255.255.255"), "\x02" + Q::Pos3(text) + "\x01" + Q::Pos3(text)));
    b.Index(Q::Ip("128.0.0.0"), b.Simple(Q::Ip("255.255.255.255"), "high", "x"));
    return b.Finish();
}

std::string WithHeader(std::string db, uint32_t first, uint32_t last) {
    db.replace(0, 8, Q::U32(first) + Q::U32(last));
    return db;
}

std::vector<std::pair<std::string, std::string>> CorruptCorpus() {
    std::vector<std::pair<std::string, std::string>> corpus;
    std::string valid = ValidDatabase();
    for (size_t n = 0; n < valid.size(); ++n) corpus.emplace_back("cut at " + std::to_string(n), valid.substr(0, n));
    uint32_t first = uint32_t(valid.size() - 28);
    corpus.emplace_back("inverted header", WithHeader(valid, first + 21, first));
    corpus.emplace_back("last one byte before first", WithHeader(valid, first, first - 1));
    corpus.emplace_back("positions beyond the end", WithHeader(valid, 100000, 200000));
    corpus.emplace_back("largest positions", WithHeader(valid, 0xFFFFFFF0, 0xFFFFFFFF));
    corpus.emplace_back("huge entry count", WithHeader(valid, 8, 0xFFFFFFF0));
    corpus.emplace_back("index inside the header", WithHeader(valid, 0, 7));
    corpus.emplace_back("uneven index size", WithHeader(valid, first, first + 20));

    Q loops;
    uint32_t self = uint32_t(8 + 4); // place fields of the first record
    loops.Index(0, loops.Record(0xFFFFFFFF, "\x01" + Q::Pos3(self)));
    corpus.emplace_back("mode 1 pointing at itself", loops.Finish());
    Q area;
    uint32_t fields = 12;
    area.Index(0, area.Record(0xFFFFFFFF, "\x02" + Q::Pos3(fields) + "\x02" + Q::Pos3(fields + 4)));
    corpus.emplace_back("area redirect to itself", area.Finish());
    Q far;
    far.Index(0, far.Record(0xFFFFFFFF, "\x01\xFF\xFF\xFF"));
    corpus.emplace_back("redirect beyond the end", far.Finish());
    Q noNul;
    noNul.Index(0, noNul.Record(0xFFFFFFFF, std::string(5000, 'z')));
    std::string unterminated = noNul.Finish();
    corpus.emplace_back("text without NUL", unterminated.substr(0, unterminated.size()));

    // Inputs the fuzzer kept (crashes among them) stay as regression cases.
    std::filesystem::path kept = std::filesystem::path(FUZZ_CORPUS_DIR) / "ipdb";
    if (std::filesystem::exists(kept))
        for (const auto &entry : std::filesystem::directory_iterator(kept)) {
            std::ifstream in(entry.path(), std::ios::binary);
            corpus.emplace_back(entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {}));
        }
    return corpus;
}

} // namespace

TEST(CorruptDatabases, EveryLookupEndsWithATextWithoutFault) {
    TempDir dir;
    ScopedRecorder recorder; // nothing may be shown for a file that opens
    for (const auto &[name, bytes] : CorruptCorpus()) {
        SCOPED_TRACE(name);
        dir.write("db", bytes);
        for (const char *address : kProbeAddresses) {
            Text place = LookupLocation(address, dir.file("db").c_str());
            ASSERT_NE(place, nullptr);
            EXPECT_LE(TextLength(place), rt::FileTable::kMaxText);
            FreeBlock(place);
        }
    }
    EXPECT_TRUE(recorder->messages().empty());
    EXPECT_EQ(rt::Runtime::Instance().files().OpenCount(), 0u) << "every path closes the file";
}

class RealDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(REAL_QQWRY))
            GTEST_SKIP() << "no real database at " << REAL_QQWRY
                         << " (scripts/fetch-qqwry could not reach the npm registry)";
    }
};

TEST_F(RealDatabase, AgreesWithAnIndependentReaderOnRandomAddresses) {
    QqwryReference reference(REAL_QQWRY);
    ASSERT_TRUE(reference.ok());
    std::mt19937 random(20261208);
    int nonEmpty = 0;
    for (int i = 0; i < 3000; ++i) {
        uint32_t ip = uint32_t(random());
        std::string dotted = rt::testing::QqwryBuilder::Dotted(ip);
        std::string expected = reference.Lookup(ip);
        ASSERT_EQ(Owned(LookupLocation(dotted.c_str(), REAL_QQWRY)).str(), expected) << dotted;
        nonEmpty += !expected.empty();
    }
    EXPECT_GT(nonEmpty, 2900) << "the real database names nearly every address";
}

#ifndef _WIN32 // the lookup tool is built on Linux
TEST_F(RealDatabase, LookupToolPrintsThePlacesTheFileHolds) {
    QqwryReference reference(REAL_QQWRY);
    const char *addresses[] = {"1.2.3.4", "8.8.8.8",   "114.114.114.114", "223.5.5.5",
                               "0.0.0.0", "127.0.0.1", "255.255.255.255"};
    std::string command = std::string(IPDB_LOOKUP) + " --db " + REAL_QQWRY;
    for (const char *a : addresses) command += std::string(" ") + a;
    FILE *pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[4096];
    size_t i = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        ASSERT_LT(i, std::size(addresses));
        std::string got(line);
        std::string expected = std::string(addresses[i]) + "\t" +
                               rt::GbkToUtf8(reference.Lookup(rt::testing::QqwryBuilder::Ip(addresses[i]))) + "\n";
        EXPECT_EQ(got, expected);
        ++i;
    }
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(i, std::size(addresses));
}
#endif
