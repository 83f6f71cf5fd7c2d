// asn-lookup [--db PATH] [ADDRESS...]
// Prints "ADDRESS<TAB>ASN<TAB>ORGANISATION" per IPv4 address from the program's AS table (asn.dat in
// the current folder unless --db names another); "-" for an address no network announces, or one
// that is not an IPv4 address. Reads addresses one per line from standard input when none are given.
// Control characters an organisation's name may hold are shown as "?": they would break the columns.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "formats/asn/asn_table.h"
#include "formats/io/io.h"
#include "formats/text/text.h"

namespace {

// Dotted IPv4 address to host byte order, only in its plain form ("1.2.3.4").
std::optional<uint32_t> Parse(const std::string &text) {
    uint32_t value = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        size_t digits = 0;
        uint32_t octet = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3)
            octet = octet * 10 + uint32_t(text[at++] - '0'), ++digits;
        if (digits == 0 || octet > 255) return std::nullopt;
        value = value << 8 | octet;
        if (part < 3 && (at >= text.size() || text[at++] != '.')) return std::nullopt;
    }
    if (at != text.size()) return std::nullopt;
    return value;
}

void Print(const asn::Table &table, const std::string &address) {
    auto ip = Parse(address);
    auto network = ip ? table.Lookup(*ip) : std::nullopt;
    std::string line = rt::ReplaceControls(address) + "\t";
    if (network) line += std::to_string(network->asn) + "\t" + rt::ReplaceControls(network->name) + "\n";
    else line += "-\t-\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

} // namespace

int main(int argc, char **argv) {
    std::ios::sync_with_stdio(false);
    std::string database = "asn.dat";
    std::vector<std::string> addresses;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--db") == 0 && i + 1 < argc) {
            database = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts("usage: asn-lookup [--db PATH] [ADDRESS...]");
            return 0;
        } else {
            addresses.push_back(argv[i]);
        }
    }
    auto bytes = rt::io::ReadFile(database, size_t(1) << 28);
    if (!bytes) {
        std::fprintf(stderr, "asn-lookup: cannot read %s: %s\n", database.c_str(),
                     std::string(rt::io::Describe(bytes.error())).c_str());
        return 1;
    }
    auto table = asn::Table::Open({reinterpret_cast<const uint8_t *>(bytes->data()), bytes->size()});
    if (!table) {
        std::fprintf(stderr, "asn-lookup: %s: %s\n", database.c_str(), rt::DescribeFinding(table.error()).c_str());
        return 1;
    }
    if (addresses.empty())
        for (std::string line; std::getline(std::cin, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Print(*table, line);
        }
    for (const std::string &a : addresses) Print(*table, a);
    return 0;
}
