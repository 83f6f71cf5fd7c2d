// Assembly: the header, the DLL command and library tables, the segment chain with each segment's
// data, the fixup groups, the PC-relative distances and the map.
#include <elf.h>

#include <algorithm>
#include <cstring>

#include "builder.h"
#include "formats/text/text.h"

namespace mkimage {
namespace {

// The library table: name, identifier, version, description of each support library.
struct LibraryRow {
    const char *name;
    const char *identifier;
    const char *major;
    const char *minor;
    const char *description;
};
constexpr LibraryRow kLibraries[] = {
    {"rtcore", "5A1C0E3F9D2B47A8B6E1C4D7F0A39B21", "5", "7", "core runtime: texts, files, window, events"},
    {"rtlistview", "8E4B2D1A6C3F4B9E8A7D5C2E1F0B3A64", "2", "0", "extended user interface: the result list view"},
    {"rtthread", "C3D5E7F9A1B24C6D8E0F1A3B5C7D9E02", "2", "0", "threading: starts the trace run"},
    {"rtxml", "17F3B5D9E2A44C8B9D1E6F0A2C4B8D35", "2", "2", "XML parsing (listed, not called)"},
    {"rtappiface", "9B2E4D6F8A0C4E1B3D5F7A9C1E3B5D76", "3", "1", "application interface: opens web addresses"},
};

std::string RowText(const LibraryRow &row) {
    return std::string(row.name) + "\r" + row.identifier + "\r" + row.major + "\r" + row.minor + "\r" + row.description;
}

// One segment of the chain: its data, its sizes and its relocation entries.
struct ChainEntry {
    const std::vector<uint8_t> *data;
    uint32_t memorySize;
    uint32_t statedSize;
    const std::vector<uint32_t> *relocs;
};

} // namespace

std::string_view Describe(BuildProblem p) {
    switch (p) {
    case BuildProblem::ThreadLocalData: return "thread-local data";
    case BuildProblem::StaticConstructors: return "static constructors or destructors";
    case BuildProblem::UnwindTables: return "unwind tables (compile without them)";
    case BuildProblem::WritableData: return "writable data";
    case BuildProblem::NoConstTable: return "no .rtconst section (app/constants.S) in the object";
    case BuildProblem::NoStartRoutine: return "no start routine (RtStartRoutine) in the object";
    case BuildProblem::RelocationInData: return "a table of addresses in data cannot be placed; build it in code";
    case BuildProblem::RelocationPastSection: return "the relocation runs past its section";
    case BuildProblem::UndefinedSymbol: return "undefined symbol";
    case BuildProblem::AbsoluteSymbol: return "the symbol is absolute or common";
    case BuildProblem::SymbolOutsideImage: return "the symbol lies in a section the image does not hold";
    case BuildProblem::PcRelativeToVariable:
        return "PC-relative reference to a variable (reach variables by absolute address)";
    case BuildProblem::PcRelativeToIdentifier: return "PC-relative reference to an identifier";
    case BuildProblem::OutOfRange: return "reference out of range";
    case BuildProblem::UnsupportedRelocation: return "relocation type not supported";
    case BuildProblem::HandlerNotRoutine: return "the form handler is not a routine of the image";
    }
    return "unknown problem";
}

uint32_t Builder::HeaderSize() {
    uint32_t size = image::kDllNames + 8 * uint32_t(std::size(kDllCommands));
    for (const LibraryRow &row : kLibraries) size += uint32_t(RowText(row).size() + 1);
    return size + 1;
}

// The form's data with each handler's code offset in its place.
std::vector<uint8_t> Builder::FormWithHandlers() {
    std::vector<uint8_t> form = form_.bytes;
    for (const FormInput::Handler &h : form_.handlers) {
        auto index = SymbolIndex(h.symbol);
        BuildFinding why{};
        auto target = index ? Resolve(*index, why) : std::nullopt;
        if (!target || target->kind != Target::Code || h.offset + 4 > form.size()) {
            Problem(BuildProblem::HandlerNotRoutine, h.symbol);
            continue;
        }
        PutU32(form, h.offset, target->value);
    }
    return form;
}

// @reloc1: each fixup group's count, then its sites.
std::vector<uint8_t> Builder::Reloc1() const {
    std::vector<uint8_t> reloc1;
    for (const auto &group : fixups_) {
        PutU32(reloc1, reloc1.size(), uint32_t(group.size()));
        for (uint32_t site : group) PutU32(reloc1, reloc1.size(), site);
    }
    return reloc1;
}

// Code and constants run in place, so a PC-relative distance between them is fixed.
void Builder::ResolvePcRelative(std::vector<uint8_t> &img, uint32_t codeBase, uint32_t constBase) const {
    for (const PcRelative &p : pcRelative_) {
        int64_t target = int64_t(p.kind == Target::Code ? codeBase : constBase) + p.value;
        int64_t value = target + p.addend - int64_t(codeBase + p.site);
        PutU32(img, codeBase + p.site, uint32_t(int32_t(value)));
    }
}

// Where each named routine, constant and variable went, and each stub.
std::vector<std::string> Builder::Map() const {
    std::vector<std::string> map;
    for (uint32_t i = 0; i < obj_.symbols.size(); ++i) {
        const Symbol &s = obj_.symbols[i];
        if (s.name.empty() || s.type == STT_SECTION || s.type == STT_FILE || s.section == SHN_UNDEF) continue;
        BuildFinding why{};
        auto t = Resolve(i, why);
        if (!t) continue;
        const char *seg = t->kind == Target::Code ? "code" : t->kind == Target::Const ? "const" : "var";
        map.push_back(std::string(seg) + " " + rt::Hex(t->value) + " " + s.name);
    }
    for (const auto &[name, at] : stubs_) map.push_back("code " + rt::Hex(at) + " stub:" + name);
    return map;
}

BuiltImage Builder::Assemble() {
    BuiltImage out;
    std::vector<uint8_t> &img = out.bytes;
    uint32_t n = uint32_t(std::size(kDllCommands));
    img.assign(image::kDllNames + 8 * n, 0);
    for (uint32_t i = 0; i < n; ++i) {
        PutU32(img, image::kDllNames + 4 * i, dllFileNames_[i]);
        PutU32(img, image::kDllNames + 4 * n + 4 * i, dllFunctionNames_[i]);
    }
    for (const LibraryRow &row : kLibraries) {
        std::string text = RowText(row);
        Append(img, text.c_str(), text.size() + 1);
    }
    img.push_back(0); // the empty row ends the table

    std::vector<uint8_t> form = FormWithHandlers(), reloc1 = Reloc1();
    std::vector<uint8_t> help(image::kHelpSize, 0), none;
    std::vector<uint32_t> noRelocs;
    uint32_t reloc1Stated = uint32_t(reloc1.size()) - image::kReloc1SizeShortfall;
    const ChainEntry chain[] = {
        {&const_, uint32_t(const_.size()), uint32_t(const_.size()), &noRelocs},
        {&form, uint32_t(form.size()), uint32_t(form.size()), &noRelocs},
        {&help, image::kHelpSize, image::kHelpSize, &noRelocs},
        {&code_, uint32_t(code_.size()), uint32_t(code_.size()), &relocs_},
        {&none, std::max(varSize_, image::kVarMinimum), 0, &noRelocs},
        {&reloc1, reloc1Stated, reloc1Stated, &noRelocs},
    };
    static_assert(std::size(chain) == image::kSegments.size());
    uint32_t headers[std::size(chain)], dataOffsets[std::size(chain)];
    // Each header directly followed by its data, in chain order.
    for (size_t i = 0; i < std::size(chain); ++i) {
        const ChainEntry &seg = chain[i];
        uint32_t headerSize = image::kSegBaseSize + 4 * uint32_t(seg.relocs->size());
        if (seg.data == &code_) // the chain links headers by offset, so padding may precede this one
            while ((img.size() + headerSize) % kCodeAlignment) img.push_back(0);
        uint32_t at = uint32_t(img.size());
        if (i > 0) PutU32(img, headers[i - 1] + image::kSegNext, at);
        headers[i] = at;
        img.resize(at + headerSize, 0);
        PutU32(img, at + image::kSegHeaderSize, headerSize);
        PutU32(img, at + image::kSegFlags, image::kSegments[i].flags);
        std::memcpy(img.data() + at + image::kSegName, image::kSegments[i].name.data(),
                    image::kSegments[i].name.size());
        PutU32(img, at + image::kSegMemorySize, seg.memorySize);
        PutU32(img, at + image::kSegRelocCount, uint32_t(seg.relocs->size()));
        for (size_t k = 0; k < seg.relocs->size(); ++k) PutU32(img, at + image::kSegRelocs + 4 * k, (*seg.relocs)[k]);
        dataOffsets[i] = seg.data->empty() ? image::kNone : uint32_t(img.size());
        PutU32(img, at + image::kSegDataSize, seg.data->empty() ? 0 : seg.statedSize);
        PutU32(img, at + image::kSegDataOffset, dataOffsets[i]);
        Append(img, seg.data->data(), seg.data->size());
        PutU32(img, at + image::kSegNext, image::kNone); // until the next header is placed
    }
    ResolvePcRelative(img, dataOffsets[3], dataOffsets[0]);

    PutU32(img, image::kFirstSegment, headers[0]);
    for (uint32_t k = 0; k < 4; ++k) PutU32(img, image::kUnsettled28 + 4 * k, image::kHeaderValues[k]);
    PutU32(img, image::kDllCount, n);
    BuildFinding why{};
    auto start = SymbolIndex("RtStartRoutine");
    auto target = start ? Resolve(*start, why) : std::nullopt;
    PutU32(img, image::kStartRoutine, target ? target->value : 0);
    PutU32(img, image::kConstHeader, headers[0]);
    PutU32(img, image::kFormHeader, headers[1]);
    PutU32(img, image::kHelpHeader, headers[2]);
    PutU32(img, image::kCodeHeader, headers[3]);
    PutU32(img, image::kVarHeader, headers[4]);
    PutU32(img, image::kConstHeaderAgain, headers[0]);
    out.map = Map();
    return out;
}

rt::Result<BuiltImage, std::vector<BuildFinding>> BuildImage(const ElfObject &object, const FormInput &form) {
    Builder b(object, form);
    b.PlaceSections();
    b.AddStubs();
    b.ApplyRelocations();
    if (!b.problems.empty()) return b.problems;
    BuiltImage built = b.Assemble();
    if (!b.problems.empty()) return b.problems;
    return built;
}

} // namespace mkimage
