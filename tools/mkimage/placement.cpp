// Placement: which section of the object goes into which segment, in what order; the service stubs;
// and each relocation turned into an image relocation, an identifier fixup or a PC-relative distance.
#include <elf.h>

#include <algorithm>
#include <cstring>

#include "builder.h"
#include "formats/text/text.h"

namespace mkimage {

using image::FixupGroup;
using image::RelocKind;

namespace {

struct IdentifierValue {
    uint32_t value;
    FixupGroup group;
};

const std::map<std::string, IdentifierValue> &Identifiers() {
    static const std::map<std::string, IdentifierValue> ids = [] {
        std::map<std::string, IdentifierValue> m;
#define UNIT_ID(name, value) m[#name] = {value, FixupGroup::Units};
#define LIBRARY_ROW(name, value) m[#name] = {value, FixupGroup::LibraryRows};
#define UNIT_TYPE(name, value) m["Type_" #name] = {value, FixupGroup::UnitTypes};
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes) m["DllIdx_" #thunk] = {index, FixupGroup::DllIndexes};
#include "contract/dll_commands.def"
#include "contract/identifiers.def"
#undef UNIT_ID
#undef LIBRARY_ROW
#undef UNIT_TYPE
#undef DLL_COMMAND
        return m;
    }();
    return ids;
}

// Pads until the bytes' end, placed at `base` in the image, is a multiple of the alignment. The
// image itself is placed page-aligned, so image offsets stand for alignment in memory.
void Align(std::vector<uint8_t> &b, uint64_t alignment, uint8_t fill, uint64_t base = 0) {
    if (alignment > 1)
        while ((base + b.size()) % alignment) b.push_back(fill);
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The number of a section that code_order.h places first or last, or nothing.
std::optional<unsigned long> OrderNumber(const std::string &name, std::string_view prefix) {
    if (!StartsWith(name, prefix)) return std::nullopt;
    return std::strtoul(name.c_str() + prefix.size(), nullptr, 10);
}

} // namespace

void PutU32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    std::memcpy(b.data() + at, &v, 4);
}

void Append(std::vector<uint8_t> &b, const void *p, size_t n) {
    b.insert(b.end(), static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + n);
}

std::string Builder::SymbolsIn(uint32_t section) const {
    std::string names;
    for (const Symbol &s : obj_.symbols)
        if (s.section == section && !s.name.empty() && s.type != STT_SECTION)
            names += (names.empty() ? "" : ", ") + s.name;
    return obj_.sections[section].name + ": " + (names.empty() ? "(no symbol)" : names);
}

std::string Builder::SymbolName(const Relocation &r) const {
    const Symbol &s = obj_.symbols[r.symbol];
    return s.type == STT_SECTION ? obj_.sections[s.section].name : s.name;
}

std::optional<uint32_t> Builder::SymbolIndex(const std::string &name) const {
    for (uint32_t i = 0; i < obj_.symbols.size(); ++i)
        if (obj_.symbols[i].name == name && obj_.symbols[i].section != SHN_UNDEF) return i;
    return std::nullopt;
}

void Builder::PlaceCode(uint32_t index) {
    const Section &s = obj_.sections[index];
    Align(code_, s.align, 0xCC);
    placement_[index] = {Segment::Code, uint32_t(code_.size())};
    Append(code_, s.bytes.data(), s.bytes.size());
}

void Builder::PlaceSections() {
    std::vector<uint32_t> constants;
    std::vector<std::pair<unsigned long, uint32_t>> first, middle, last;
    for (uint32_t i = 0; i < obj_.sections.size(); ++i) {
        const Section &s = obj_.sections[i];
        if (!(s.flags & SHF_ALLOC) || s.size == 0 || s.type == SHT_NOTE) continue;
        if (s.flags & SHF_TLS) Problem(BuildProblem::ThreadLocalData, SymbolsIn(i));
        else if (StartsWith(s.name, ".init_array") || StartsWith(s.name, ".fini_array") ||
                 StartsWith(s.name, ".ctors") || StartsWith(s.name, ".dtors") || StartsWith(s.name, ".preinit_array"))
            Problem(BuildProblem::StaticConstructors, SymbolsIn(i));
        else if (StartsWith(s.name, ".eh_frame")) Problem(BuildProblem::UnwindTables, s.name);
        else if (s.flags & SHF_EXECINSTR) {
            if (auto n = OrderNumber(s.name, image::kCodeFirstSections)) first.push_back({*n, i});
            else if (auto m = OrderNumber(s.name, image::kCodeLastSections)) last.push_back({*m, i});
            else middle.push_back({0, i});
        } else if (s.flags & SHF_WRITE) {
            if (s.name != ".rtvar") {
                Problem(BuildProblem::WritableData, SymbolsIn(i));
                continue;
            }
            placement_[i] = {Segment::Var, varSize_};
            varSize_ += uint32_t(s.size);
        } else if (s.name != ".rtconst") {
            constants.push_back(i);
        }
    }
    PlaceConstants(constants);
    // code: the support routines first; the thread entry, the window handler and the start routine
    // last, before the stubs (app/code_order.h); everything else between them in the object's order.
    std::stable_sort(first.begin(), first.end());
    std::stable_sort(last.begin(), last.end());
    for (const auto &group : {first, middle, last})
        for (const auto &[number, section] : group) PlaceCode(section);
    if (!SymbolIndex("RtStartRoutine")) Problem(BuildProblem::NoStartRoutine, {});
}

// const: the fixed table first, the DLL names behind it, then whatever the compiler added.
void Builder::PlaceConstants(const std::vector<uint32_t> &sections) {
    auto table =
        std::find_if(obj_.sections.begin(), obj_.sections.end(), [](const Section &s) { return s.name == ".rtconst"; });
    if (table == obj_.sections.end()) Problem(BuildProblem::NoConstTable, {});
    else {
        placement_[uint32_t(table - obj_.sections.begin())] = {Segment::Const, 0};
        Append(const_, table->bytes.data(), table->size);
    }
    std::map<std::string, uint32_t> stored; // each name once
    for (const DllCommand &c : kDllCommands)
        for (const char *name : {c.dll, c.function})
            if (!stored.count(name)) {
                stored[name] = uint32_t(const_.size());
                Append(const_, name, std::strlen(name) + 1);
            }
    for (const DllCommand &c : kDllCommands) {
        dllFileNames_.push_back(stored[c.dll]);
        dllFunctionNames_.push_back(stored[c.function]);
    }
    // The const segment's data follows its header, which follows the library table directly; the
    // compiler's constants (16-byte SSE operands among them) are aligned by their image offset.
    uint64_t constBase = HeaderSize() + image::kSegBaseSize;
    for (uint32_t i : sections) {
        const Section &s = obj_.sections[i];
        Align(const_, s.align, 0, constBase);
        placement_[i] = {Segment::Const, uint32_t(const_.size())};
        Append(const_, s.bytes.data(), s.bytes.size());
    }
}

void Builder::AddStubs() {
    Align(code_, 16, 0xCC);
    for (const image::ServiceSlot &s : image::kStubOrder) {
        uint32_t at = uint32_t(code_.size());
        stubs_[std::string(s.symbol)] = at;
        bool i386 = obj_.machine == Machine::I386;
        std::span<const uint8_t> bytes = i386 ? std::span<const uint8_t>(image::kStubBytesI386) : image::kStubBytes;
        uint32_t operand = at + (i386 ? image::kStubOperandI386 : image::kStubOperand);
        Append(code_, bytes.data(), bytes.size());
        PutU32(code_, operand, s.slot);
        relocs_.push_back(image::EncodeReloc(operand, RelocKind::ServiceTable));
    }
}

std::optional<Target> Builder::Resolve(uint32_t index, BuildFinding &why) const {
    const Symbol &s = obj_.symbols[index];
    if (s.section == SHN_UNDEF) {
        if (auto it = stubs_.find(s.name); it != stubs_.end()) return Target{Target::Code, it->second, {}};
        if (auto it = Identifiers().find(s.name); it != Identifiers().end())
            return Target{Target::Identifier, it->second.value, it->second.group};
        why = {BuildProblem::UndefinedSymbol, s.name};
        return std::nullopt;
    }
    if (s.section >= obj_.sections.size()) {
        why = {BuildProblem::AbsoluteSymbol, s.name};
        return std::nullopt;
    }
    auto p = placement_.find(s.section);
    if (p == placement_.end()) {
        why = {BuildProblem::SymbolOutsideImage, s.name + " in " + obj_.sections[s.section].name};
        return std::nullopt;
    }
    uint32_t offset = p->second.offset + uint32_t(s.value);
    switch (p->second.segment) {
    case Segment::Code: return Target{Target::Code, offset, {}};
    case Segment::Const: return Target{Target::Const, offset, {}};
    case Segment::Var: return Target{Target::Var, offset, {}};
    case Segment::None: break;
    }
    why = {BuildProblem::SymbolOutsideImage, s.name};
    return std::nullopt;
}

void Builder::ApplyRelocations() {
    for (const Relocation &r : obj_.relocations) {
        auto p = placement_.find(r.section);
        if (p == placement_.end()) continue; // debugging sections and the like
        std::string where = SymbolName(r) + " at " + obj_.sections[r.section].name + "+" + rt::Hex(r.offset);
        if (p->second.segment != Segment::Code) {
            Problem(BuildProblem::RelocationInData, where);
            continue;
        }
        if (r.kind == RelocationKind::Other) {
            Problem(BuildProblem::UnsupportedRelocation, "type " + std::to_string(r.type) + ", " + where);
            continue;
        }
        if (r.offset + 4 > obj_.sections[r.section].size) {
            Problem(BuildProblem::RelocationPastSection, where);
            continue;
        }
        uint32_t site = p->second.offset + uint32_t(r.offset);
        BuildFinding why{};
        auto target = Resolve(r.symbol, why);
        if (!target) {
            problems.push_back({why.code, why.where + " (referenced at " + where + ")"});
            continue;
        }
        switch (r.kind) {
        case RelocationKind::PcRelative32:
            if (target->kind == Target::Var) Problem(BuildProblem::PcRelativeToVariable, where);
            else if (target->kind == Target::Identifier) Problem(BuildProblem::PcRelativeToIdentifier, where);
            else pcRelative_.push_back({site, target->kind, target->value, r.addend});
            break;
        case RelocationKind::Absolute32: {
            int64_t value = int64_t(target->value) + r.addend;
            if (value < 0 || value > INT32_MAX) {
                Problem(BuildProblem::OutOfRange, where);
                break;
            }
            PutU32(code_, site, uint32_t(value));
            switch (target->kind) {
            case Target::Code: relocs_.push_back(image::EncodeReloc(site, RelocKind::Code)); break;
            case Target::Const: relocs_.push_back(image::EncodeReloc(site, RelocKind::Const)); break;
            case Target::Var: relocs_.push_back(image::EncodeReloc(site, RelocKind::Var)); break;
            case Target::Identifier: fixups_[uint32_t(target->group)].push_back(site); break;
            }
            break;
        }
        case RelocationKind::Other: break; // refused above
        }
    }
}

} // namespace mkimage
