// The ipdb reader and the converter: small databases written here, converted, and every range read
// back through the application's own lookup; malformed files refused; the real release compared with
// a reader of its own.
#include <arpa/inet.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "host_fixture.h"
#include "app/ipdb/ipdb.h"
#include "formats/ipdb/ipdb_reader.h"
#include "temp_dir.h"
#include "tools/ipdb2qqwry/convert.h"

using namespace rt::testing;

namespace {

uint32_t Ip(const char *dotted) { return ntohl(::inet_addr(dotted)); }

const std::vector<std::string> kFields = {"country_name", "region_name", "city_name",    "district_name",
                                          "owner_domain", "isp_domain",  "country_code", "continent_code"};

// Writes ipdb files: CIDR blocks with records, in a trie under the IPv4-mapped prefix.
class IpdbBuilder {
  public:
    void Add(const char *network, int bits, const std::string &record) {
        uint32_t address = Ip(network);
        int node = Ipv4Root();
        for (int depth = 0; depth < bits - 1; ++depth) node = Child(node, (address >> (31 - depth)) & 1);
        leaves_.push_back({node, int((address >> (32 - bits)) & 1), record});
    }
    std::string Finish(std::string metadataOverride = {}) {
        uint32_t count = uint32_t(nodes_.size());
        std::string records(16, '\0'); // a record at offset 0 would be the "no record" value
        std::vector<std::array<uint32_t, 2>> words(count, {count, count});
        for (size_t i = 0; i < nodes_.size(); ++i)
            for (int b = 0; b < 2; ++b)
                if (nodes_[i][b] >= 0) words[i][b] = uint32_t(nodes_[i][b]);
        for (const Leaf &l : leaves_) {
            words[size_t(l.node)][l.bit] = count + uint32_t(records.size());
            records += char(l.record.size() >> 8);
            records += char(l.record.size());
            records += l.record;
        }
        std::string data;
        for (const auto &w : words)
            for (uint32_t v : w) data += std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        data += records;
        std::string fields;
        for (const std::string &f : kFields) fields += (fields.empty() ? "\"" : ",\"") + f + "\"";
        std::string meta = metadataOverride.empty()
                               ? "{\"build\":1,\"ip_version\":1,\"languages\":{\"CN\":0},\"fields\":[" + fields +
                                     "],\"node_count\":" + std::to_string(count) +
                                     ",\"total_size\":" + std::to_string(data.size()) + "}"
                               : metadataOverride;
        uint32_t n = uint32_t(meta.size());
        return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + meta + data;
    }

  private:
    struct Leaf {
        int node, bit;
        std::string record;
    };
    int Child(int node, int bit) {
        if (nodes_[size_t(node)][size_t(bit)] < 0) {
            nodes_[size_t(node)][size_t(bit)] = int(nodes_.size());
            nodes_.push_back({-1, -1});
        }
        return nodes_[size_t(node)][size_t(bit)];
    }
    int Ipv4Root() { // 80 zero bits, then 16 one bits
        int node = 0;
        for (int i = 0; i < 96; ++i) node = Child(node, i >= 80 ? 1 : 0);
        return node;
    }
    std::vector<std::array<int, 2>> nodes_ = {{-1, -1}};
    std::vector<Leaf> leaves_;
};

std::string Record(std::initializer_list<const char *> fields) {
    std::string r;
    for (const char *f : fields) r += (r.empty() && f == *fields.begin() ? "" : "\t") + std::string(f);
    return r;
}

class Conversion : public ::testing::Test {
  protected:
    // Converts the source; the database's path, or nothing with the failure.
    rt::Result<convert::Summary, convert::Failure> Convert(const std::string &source) {
        FILE *out = std::fopen(dir_.file("QQWry.dat").c_str(), "wb");
        auto r = convert::Convert({reinterpret_cast<const uint8_t *>(source.data()), source.size()}, out);
        std::fclose(out);
        return r;
    }
    std::string Place(const char *address) {
        return rt::GbkToUtf8(Owned(LookupLocation(address, dir_.file("QQWry.dat").c_str())).str());
    }
    TempDir dir_;
};

} // namespace

TEST_F(Conversion, EveryRangeReadsBackThroughTheProgramsLookup) {
    IpdbBuilder b;
    b.Add("1.0.0.0", 24, Record({"中国", "上海", "上海", "", "", "电信", "CN", "AS"}));
    b.Add("1.0.1.0", 24, Record({"中国", "上海", "上海", "", "", "电信", "CN", "AS"})); // merges with the one before
    b.Add("1.0.2.0", 23, Record({"美国", "加利福尼亚州", "山景城", "", "谷歌", "", "US", "NA"}));
    b.Add("8.0.0.0", 8, Record({"日本", "东京都", "", "", "", "", "JP", "AS"}));
    b.Add("9.0.0.0", 8, Record({"希腊", "", "", "", "", "\xF0\x9F\x98\x80 Emoji ISP", "GR", "EU"})); // not in GBK
    b.Add("255.255.255.0", 24, Record({"纯真网络", "", "", "", "", "2026年09月16日IP数据", "", ""}));
    auto summary = Convert(b.Finish());
    ASSERT_TRUE(summary) << convert::Describe(summary.error().code) << summary.error().detail;
    EXPECT_EQ(summary->replaced, 1u) << "the one character GBK cannot hold";
    const struct {
        const char *address, *place;
    } cases[] = {
        {"0.255.255.255", ""},
        {"1.0.0.0", "上海 电信"},
        {"1.0.1.255", "上海 电信"},
        {"1.0.2.7", "美国加利福尼亚州山景城 谷歌"},
        {"1.0.3.255", "美国加利福尼亚州山景城 谷歌"},
        {"1.0.4.0", ""},
        {"8.8.8.8", "日本东京都"},
        {"9.1.2.3", "希腊 ? Emoji ISP"},
        {"200.1.1.1", ""},
        {"255.255.255.255", "纯真网络 2026年09月16日IP数据"},
    };
    for (const auto &c : cases) EXPECT_EQ(Place(c.address), c.place) << c.address;
}

TEST_F(Conversion, MalformedSourcesAreRefusedWithoutFault) {
    IpdbBuilder b;
    b.Add("1.0.0.0", 8, Record({"中国", "北京", "", "", "", "", "CN", "AS"}));
    std::string good = b.Finish();
    ASSERT_TRUE(Convert(good));
    using P = ipdb::Problem;
    auto problem = [&](const std::string &bytes) -> std::optional<P> {
        auto reader = ipdb::Reader::Open({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()});
        if (!reader) return reader.error().code;
        auto walked = reader->ForEachIpv4Range([](uint32_t, uint32_t, const std::vector<std::string_view> *) {});
        if (!walked) return walked.error().code;
        return std::nullopt;
    };
    for (size_t n = 0; n < good.size(); n += 7) EXPECT_TRUE(problem(good.substr(0, n))) << "cut at " << n;
    uint32_t metaLength = uint32_t(uint8_t(good[3]));
    size_t data = 4 + metaLength;
    std::string node = good;
    node[data + 4 * 200] = '\x7F'; // a node of the IPv4 part points far past everything
    std::string record = good;
    size_t length = record.size() - 2 - Record({"中国", "北京", "", "", "", "", "CN", "AS"}).size();
    record[length] = '\xFF'; // the record's length runs past the end
    record[length + 1] = '\xFF';
    const struct {
        const char *what;
        std::string bytes;
        P expected;
    } cases[] = {
        {"no metadata", std::string("\0\0\0\x05{}", 6), P::MetadataOutside},
        {"metadata without fields", IpdbBuilder().Finish("{\"node_count\":1,\"total_size\":8}"), P::BadMetadata},
        {"a node pointing past everything (read as a record)", node, P::RecordOutside},
        {"a record past the end", record, P::RecordOutside},
    };
    for (const auto &c : cases) EXPECT_EQ(problem(c.bytes), c.expected) << c.what;
    EXPECT_FALSE(Convert(node)) << "the converter refuses what the reader refuses";
}

TEST(RealRelease, TheConvertedDatabaseCarriesEveryFieldOfTheSource) {
    std::ifstream in(REAL_IPDB, std::ios::binary);
    if (!in || !std::ifstream(REAL_QQWRY)) GTEST_SKIP() << "no real release; run scripts/fetch-qqwry";
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto reader = ipdb::Reader::Open({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()});
    ASSERT_TRUE(reader);
    std::mt19937 random(2026);
    for (int i = 0; i < 3000; ++i) {
        uint32_t ip = uint32_t(random());
        char dotted[16];
        std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255, ip & 255);
        std::string place = rt::GbkToUtf8(Owned(LookupLocation(dotted, REAL_QQWRY)).str());
        auto fields = reader->Lookup(ip);
        ASSERT_TRUE(fields);
        if (!*fields) continue;
        for (size_t f = 0; f < 6; ++f) { // the codes of country and continent are not shown
            std::string value((**fields)[f]);
            if (value.empty() || (f == 0 && value == "中国" && place.find(value) == std::string::npos)) continue;
            if (rt::Utf8ToGbkExact(value) == std::nullopt) continue; // written with '?' for what GBK lacks
            EXPECT_NE(place.find(value), std::string::npos) << dotted << ": " << value << " not in " << place;
        }
    }
}
