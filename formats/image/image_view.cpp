#include "image_view.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "formats/byte_reader.h"
#include "formats/text/text.h"
#include "image_format.h"

namespace image {

std::string_view Describe(Problem p) {
    switch (p) {
    case Problem::ShortHeader: return "the image is shorter than its header";
    case Problem::TooManyDllCommands: return "more DLL commands than an image may declare";
    case Problem::DllTableOutside: return "the DLL command table runs past the image";
    case Problem::LibraryTableUnended: return "the library table has no end";
    case Problem::TooManyLibraryRows: return "the library table has too many rows";
    case Problem::ChainLoops: return "the segment chain loops back";
    case Problem::TooManySegments: return "the segment chain has too many segments";
    case Problem::SegmentHeaderOutside: return "the segment header lies outside the image";
    case Problem::HeaderSizeMismatch: return "header size does not match its relocation count";
    case Problem::RelocationsOutside: return "relocation entries run past the image";
    case Problem::StoredSizeWithoutData: return "stored size without stored data";
    case Problem::DataOutside: return "its data lies outside the image";
    case Problem::MemoryBelowStored: return "memory size below its stored size";
    case Problem::SegmentTwice: return "the segment appears twice";
    case Problem::SegmentMissing: return "the segment is missing";
    case Problem::WrongFlags: return "flags other than its kind's";
    case Problem::UnknownSegment: return "unknown segment";
    case Problem::RelocationsInSegment: return "relocation entries outside the code segment";
    case Problem::BadVarSegment: return "the var segment must have no stored data and at least 4 bytes";
    case Problem::SegmentWithoutData: return "a segment without data";
    case Problem::StartOutsideCode: return "the start routine lies outside the code";
    case Problem::DllNameOutside: return "the name lies outside the constants";
    case Problem::RelocationOutsideCode: return "the relocation lies outside the code";
    case Problem::UnknownRelocationKind: return "unknown relocation kind";
    case Problem::RelocationValueOutside: return "the relocated value lies outside its base";
    case Problem::FixupGroupOutside: return "the fixup group runs past the image";
    case Problem::FixupOutsideCode: return "the fixup lies outside the code";
    }
    return "unknown problem";
}

namespace {

// A segment header read from the chain.
struct SegmentHeader {
    uint32_t at, size, next, flags, memorySize, dataSize, dataOffset, relocCount;
    std::string name;
};

// The library table's end: rows of text up to an empty row; nothing with the problem otherwise.
std::optional<size_t> LibraryTableEnd(const ByteReader &r, size_t row, std::vector<Finding> &problems) {
    for (uint32_t rows = 0;; ++rows) {
        auto text = r.text(row);
        if (!text) {
            problems.push_back({Problem::LibraryTableUnended, {}});
            return std::nullopt;
        }
        row += text->size() + 1;
        if (text->empty()) return row;
        if (rows >= kMaxLibraryRows) {
            problems.push_back({Problem::TooManyLibraryRows, {}});
            return std::nullopt;
        }
    }
}

// Walks the segment chain, checking each header's own ranges.
std::vector<SegmentHeader> ReadChain(const ByteReader &r, std::vector<Finding> &problems, uint32_t &extent) {
    auto extend = [&](uint64_t end) { extent = uint32_t(std::max<uint64_t>(extent, end)); };
    std::vector<SegmentHeader> chain;
    std::set<uint32_t> seen;
    uint32_t at = *r.u32le(kFirstSegment);
    while (at != kNone) {
        std::string where = "segment header at " + rt::Hex(at);
        if (!seen.insert(at).second) {
            problems.push_back({Problem::ChainLoops, where});
            break;
        }
        if (chain.size() >= kMaxSegments) {
            problems.push_back({Problem::TooManySegments, {}});
            break;
        }
        if (!r.has(at, kSegBaseSize)) {
            problems.push_back({Problem::SegmentHeaderOutside, where});
            break;
        }
        SegmentHeader h{at,
                        *r.u32le(at + kSegHeaderSize),
                        *r.u32le(at + kSegNext),
                        *r.u32le(at + kSegFlags),
                        *r.u32le(at + kSegMemorySize),
                        *r.u32le(at + kSegDataSize),
                        *r.u32le(at + kSegDataOffset),
                        *r.u32le(at + kSegRelocCount),
                        {}};
        auto name = r.span(at + kSegName, kSegNameSize);
        h.name = std::string(reinterpret_cast<const char *>(name->data()),
                             strnlen(reinterpret_cast<const char *>(name->data()), kSegNameSize));
        where = "segment " + h.name;
        uint64_t headerSize = kSegBaseSize + 4ull * h.relocCount;
        if (h.size != headerSize) problems.push_back({Problem::HeaderSizeMismatch, where});
        else if (!r.has(at, size_t(headerSize))) problems.push_back({Problem::RelocationsOutside, where});
        else extend(uint64_t(at) + headerSize);
        if (h.dataOffset == kNone) {
            if (h.dataSize != 0) problems.push_back({Problem::StoredSizeWithoutData, where});
        } else if (!r.has(h.dataOffset, h.dataSize)) {
            problems.push_back({Problem::DataOutside, where});
        } else {
            extend(uint64_t(h.dataOffset) + h.dataSize);
        }
        if (h.memorySize < h.dataSize) problems.push_back({Problem::MemoryBelowStored, where});
        chain.push_back(h);
        at = h.next;
    }
    return chain;
}

// The code relocations: inside the code with 4 bytes to spare, a known kind, a value inside its base.
void CheckRelocations(const ByteReader &r, const Layout &layout, std::vector<Finding> &problems) {
    ByteReader code(r.bytes().subspan(layout.codeData, layout.codeSize));
    for (uint32_t i = 0; i < layout.codeRelocs; ++i) {
        uint32_t entry = *r.u32le(layout.codeHeader + kSegRelocs + 4 * i);
        uint32_t offset = RelocOffset(entry), kind = RelocKindOf(entry);
        std::string where = "relocation " + std::to_string(i);
        auto value = code.u32le(offset);
        if (!value) {
            problems.push_back({Problem::RelocationOutsideCode, where});
            continue;
        }
        const uint64_t bounds[4] = {4 * kSlotCount, layout.constSize, layout.varSize, layout.codeSize};
        if (kind > 3) problems.push_back({Problem::UnknownRelocationKind, where});
        else if (*value >= bounds[kind] || (kind == 0 && *value % 4 != 0))
            problems.push_back({Problem::RelocationValueOutside, where});
    }
}

// @reloc1 is read by its counts, not by its stated size.
void CheckFixups(const ByteReader &r, const Layout &layout, std::vector<Finding> &problems, uint32_t &extent) {
    ByteReader code(r.bytes().subspan(layout.codeData, layout.codeSize));
    size_t g = layout.reloc1Data;
    for (uint32_t group = 0; group < kFixupGroups; ++group) {
        std::string where = "fixup group " + std::to_string(group + 1);
        auto count = r.u32le(g);
        if (!count || !r.has(g + 4, size_t(*count) * 4)) {
            problems.push_back({Problem::FixupGroupOutside, where});
            return;
        }
        for (uint32_t k = 0; k < *count; ++k)
            if (!code.has(*r.u32le(g + 4 + 4 * k), 4))
                problems.push_back({Problem::FixupOutsideCode, where + ", fixup " + std::to_string(k)});
        g += 4 + size_t(*count) * 4;
        extent = uint32_t(std::max<uint64_t>(extent, g));
    }
}

} // namespace

Validation ValidateImage(std::span<const uint8_t> bytes) {
    Validation v;
    std::vector<Finding> &problems = v.problems;
    ByteReader r(bytes);
    Layout layout;

    auto n = r.u32le(kDllCount);
    if (!n || !r.has(0, kDllNames)) return {std::nullopt, {{Problem::ShortHeader, {}}}};
    layout.dllCount = *n;
    if (*n > kMaxDllCommands) return {std::nullopt, {{Problem::TooManyDllCommands, std::to_string(*n)}}};
    uint64_t tableEnd = kDllNames + 8ull * *n;
    if (!r.has(0, size_t(tableEnd))) return {std::nullopt, {{Problem::DllTableOutside, {}}}};
    auto libraryEnd = LibraryTableEnd(r, size_t(tableEnd), problems);
    if (!libraryEnd) return v;
    layout.extent = uint32_t(*libraryEnd);

    std::vector<SegmentHeader> chain = ReadChain(r, problems, layout.extent);
    auto find = [&](std::string_view name) -> const SegmentHeader * {
        const SegmentHeader *found = nullptr;
        for (const SegmentHeader &h : chain)
            if (h.name == name) {
                if (found) problems.push_back({Problem::SegmentTwice, "segment " + std::string(name)});
                found = &h;
            }
        if (!found) problems.push_back({Problem::SegmentMissing, "segment " + std::string(name)});
        return found;
    };
    const SegmentHeader *cst = find("const"), *form = find("form"), *code = find("code"), *var = find("var"),
                        *reloc1 = find("@reloc1");
    find("help");
    for (const SegmentHeader &h : chain) {
        auto kind =
            std::find_if(kSegments.begin(), kSegments.end(), [&](const SegmentKind &k) { return k.name == h.name; });
        if (kind == kSegments.end()) problems.push_back({Problem::UnknownSegment, "segment " + h.name});
        else if (h.flags != kind->flags) problems.push_back({Problem::WrongFlags, "segment " + h.name});
        if (h.relocCount != 0 && h.name != "code")
            problems.push_back({Problem::RelocationsInSegment, "segment " + h.name});
    }
    if (!problems.empty()) return v;
    if (var->dataOffset != kNone || var->memorySize < kVarMinimum) problems.push_back({Problem::BadVarSegment, {}});
    if (cst->dataOffset == kNone || code->dataOffset == kNone || form->dataOffset == kNone)
        problems.push_back({Problem::SegmentWithoutData, {}});
    if (!problems.empty()) return v;

    layout.constData = cst->dataOffset;
    layout.constSize = cst->dataSize;
    layout.formData = form->dataOffset;
    layout.formSize = form->dataSize;
    layout.codeData = code->dataOffset;
    layout.codeSize = code->dataSize;
    layout.codeHeader = code->at;
    layout.codeRelocs = code->relocCount;
    layout.varSize = var->memorySize;
    layout.reloc1Data = reloc1->dataOffset;
    layout.startRoutine = *r.u32le(kStartRoutine);
    if (layout.startRoutine >= layout.codeSize) problems.push_back({Problem::StartOutsideCode, {}});

    // DLL names point into the constants and end there.
    ByteReader constants(bytes.subspan(layout.constData, layout.constSize));
    for (uint32_t i = 0; i < 2 * layout.dllCount; ++i)
        if (!constants.text(*r.u32le(kDllNames + 4 * i)))
            problems.push_back({Problem::DllNameOutside, "DLL name " + std::to_string(i)});
    CheckRelocations(r, layout, problems);
    CheckFixups(r, layout, problems, layout.extent);
    if (problems.empty()) v.image = ImageView(bytes, layout);
    return v;
}

std::vector<DllName> ImageView::DllNames() const {
    ByteReader r(bytes_);
    ByteReader constants(bytes_.subspan(layout_.constData, layout_.constSize));
    std::vector<DllName> names;
    for (uint32_t i = 0; i < layout_.dllCount; ++i)
        names.push_back({std::string(*constants.text(*r.u32le(kDllNames + 4 * i))),
                         std::string(*constants.text(*r.u32le(kDllNames + 4 * (layout_.dllCount + i))))});
    return names;
}

void ImageView::ApplyRelocations(uint8_t *target, const uint32_t bases[4]) const {
    ByteReader r(bytes_);
    uint8_t *code = target + layout_.codeData;
    for (uint32_t i = 0; i < layout_.codeRelocs; ++i) {
        uint32_t entry = *r.u32le(layout_.codeHeader + kSegRelocs + 4 * i);
        uint32_t value;
        std::memcpy(&value, code + RelocOffset(entry), 4);
        value += bases[RelocKindOf(entry)];
        std::memcpy(code + RelocOffset(entry), &value, 4);
    }
}

} // namespace image
