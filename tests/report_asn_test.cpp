// The report's --asn on the namespace network: each hop's network from an AS table beside the
// program, as a fifth column and as "asn" and "as_name" in JSON; absent ("-", null) where the table
// names none, and never a wrong number from the real table, which names no documentation address.
#include <QJsonArray>

#include "formats/asn/asn_table.h"
#include "report_network.h"

using namespace rt::testing;

namespace {

// The fields of each row, split at tabs.
std::vector<std::vector<std::string>> Rows(const std::string &out) { return Fields(out, '\t'); }

} // namespace

TEST_F(ReportNetwork, WithAsnEachHopShowsItsNetworkFromTheTable) {
    // Documentation AS numbers for the first two routers' nets; the target's net is in no range.
    auto table = asn::Write({{QqwryBuilder::Ip("192.0.2.0"), QqwryBuilder::Ip("192.0.2.255"), 64496, "TEST-NET-1 AS"},
                             {QqwryBuilder::Ip("198.51.100.0"), QqwryBuilder::Ip("198.51.100.3"), 64497, "tab\there"},
                             {QqwryBuilder::Ip("198.51.100.4"), QqwryBuilder::Ip("198.51.100.7"), 64498, ""}},
                            20260617);
    ASSERT_TRUE(table);
    folder_.write("asn.dat", std::string(table->begin(), table->end()));
    Outcome r = Report("--report target.test --asn");
    EXPECT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> expected = {"AS64496 TEST-NET-1 AS", "AS64497 tab\\there", "AS64498", "-"};
    auto rows = Rows(r.out);
    ASSERT_EQ(rows.size(), expected.size()) << r.out;
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 5u) << r.out;
        EXPECT_EQ(rows[i][4], expected[i]) << i;
    }

    QJsonArray hops = Document(Report("--report target.test --asn --json").out)["hops"].toArray();
    ASSERT_EQ(hops.size(), 4);
    EXPECT_EQ(hops[0].toObject()["asn"].toInt(), 64496);
    EXPECT_EQ(Text(hops[1].toObject()["as_name"]), "tab\there");
    EXPECT_TRUE(hops[2].toObject()["as_name"].isNull());
    EXPECT_TRUE(hops[3].toObject()["asn"].isNull());
    EXPECT_TRUE(hops[3].toObject().contains("as_name"));
    EXPECT_FALSE(Document(Report("--report target.test --json").out)["hops"][0].toObject().contains("asn"))
        << "without --asn the document is as it was";
}

TEST_F(ReportNetwork, WithAsnButNoTableTheColumnStaysEmptyAndItSaysWhereItLooked) {
    Outcome r = Report("--report target.test --asn -m 1");
    EXPECT_EQ(r.code, 1);
    auto rows = Rows(r.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].back(), "-");
    EXPECT_NE(r.err.find("the AS table asn.dat was looked for in " + folder_.path().string()), std::string::npos)
        << r.err;
}

TEST_F(ReportNetwork, TheRealAsTableNamesNoNetworkForTheDocumentationAddresses) {
    if (!std::filesystem::exists(REAL_ASN)) GTEST_SKIP() << "no AS table: scripts/fetch-asn fetches it";
    std::filesystem::copy_file(REAL_ASN, folder_.file("asn.dat"));
    Outcome r = Report("--report target.test --asn");
    EXPECT_EQ(r.code, 0) << r.err;
    for (const auto &row : Rows(r.out)) EXPECT_EQ(row.back(), "-") << r.out;
}
