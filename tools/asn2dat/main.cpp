// asn2dat SOURCE.csv TARGET [YYYYMMDD]
// Converts the published IPv4-to-AS table (the npm package @ip-location-db/asn's asn-ipv4-num.csv or
// asn-ipv4.csv, CC BY 4.0, from RouteViews and DB-IP) into the program's AS table; the date is the
// source's. The target is written beside itself and put in place by rename.
#include <cstdio>
#include <string>

#include "convert.h"
#include "formats/io/io.h"

int main(int argc, char **argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: asn2dat SOURCE.csv TARGET [YYYYMMDD]\n");
        return 2;
    }
    uint32_t date = argc == 4 ? uint32_t(std::strtoul(argv[3], nullptr, 10)) : 0;
    auto csv = rt::io::ReadFile(argv[1], size_t(1) << 30);
    if (!csv) {
        std::fprintf(stderr, "asn2dat: cannot read %s: %s\n", argv[1],
                     std::string(rt::io::Describe(csv.error())).c_str());
        return 1;
    }
    auto ranges = asn2dat::ReadCsv(*csv);
    if (!ranges) {
        std::fprintf(stderr, "asn2dat: %s, line %zu: %s\n", argv[1], ranges.error().line,
                     std::string(asn2dat::Describe(ranges.error().problem)).c_str());
        return 1;
    }
    auto table = asn::Write(*ranges, date);
    if (!table || !rt::io::WriteFileAtomic(argv[2], *table)) {
        std::fprintf(stderr, "asn2dat: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%s: %zu ranges, %zu bytes\n", argv[2], ranges->size(), table->size());
    return 0;
}
