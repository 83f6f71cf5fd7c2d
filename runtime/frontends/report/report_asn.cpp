#include "report_asn.h"

#include <vector>

#include "formats/io/io.h"
#include "formats/text/text.h"
#include "runtime/core/files.h"
#include "runtime/core/runtime.h"

namespace rt {

namespace {

// The table is some 7 MiB; a file past this is not the program's.
constexpr size_t kMaxTable = 256u << 20;

} // namespace

void AsTable::Load(const std::string &file, const std::string &programName, FILE *err) {
    Runtime &runtime = Runtime::Instance();
    std::vector<std::string> lookedIn;
    auto path = FindDataFile(file, runtime.ProgramFolder(), runtime.product().folder, &lookedIn);
    if (!path) {
        std::string folders;
        for (const std::string &f : lookedIn) folders += (folders.empty() ? "" : ", ") + f;
        std::fprintf(err, "%s: the AS table %s was looked for in %s; the AS column stays empty.\n", programName.c_str(),
                     file.c_str(), EscapeControls(folders).c_str());
        return;
    }
    auto bytes = io::ReadFile(*path, kMaxTable);
    if (bytes) {
        bytes_ = std::move(*bytes);
        auto opened = asn::Table::Open({reinterpret_cast<const uint8_t *>(bytes_.data()), bytes_.size()});
        if (opened) {
            table_.emplace(*opened);
            return;
        }
        std::fprintf(err, "%s: %s: %s; the AS column stays empty.\n", programName.c_str(),
                     EscapeControls(*path).c_str(), DescribeFinding(opened.error()).c_str());
        return;
    }
    std::fprintf(err, "%s: %s: %s; the AS column stays empty.\n", programName.c_str(), EscapeControls(*path).c_str(),
                 std::string(io::Describe(bytes.error())).c_str());
}

std::optional<asn::Network> AsTable::Of(const HopRecord &hop) const {
    if (!table_) return std::nullopt;
    for (auto probe = hop.probes.rbegin(); probe != hop.probes.rend(); ++probe) {
        if (probe->answer == AnswerKind::None || probe->from == 0) continue;
        return Of(probe->from);
    }
    return std::nullopt;
}

std::optional<asn::Network> AsTable::Of(uint32_t address) const {
    if (!table_ || address == 0) return std::nullopt;
    const auto *b = reinterpret_cast<const uint8_t *>(&address); // network byte order
    return table_->Lookup(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]);
}

std::string AsTable::Column(const HopRecord &hop) const { return Column(Of(hop)); }

std::string AsTable::Column(std::optional<asn::Network> network) {
    if (!network) return "-";
    std::string column = "AS" + std::to_string(network->asn);
    if (!network->name.empty()) column += " " + EscapeControls(std::string(network->name));
    return column;
}

} // namespace rt
