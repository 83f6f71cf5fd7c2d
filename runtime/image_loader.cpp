#include "image_loader.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "../image/byte_reader.h"
#include "../image/image_format.h"
#include "runtime.h"
#include "services.h"
#include "win32/platform.h"

extern "C" void rt_dll_dispatch();

namespace rt {
namespace {

std::string Hex(uint64_t v) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

// A segment header read from the chain.
struct SegmentHeader {
    uint32_t at, size, next, flags, memorySize, dataSize, dataOffset, relocCount;
    std::string name;
};

[[noreturn]] void UnusedSlot() {
    ErrorSite site;
    site.command = 0x1C;
    Runtime::Instance().Fail(RtErrorUnknownCommand, site, "service slot 0x1C is not in use");
}

// The functions behind the slots, by slot offset / 4.
void *SlotFunction(uint32_t slot) {
    switch (slot) {
    case 0x00: return reinterpret_cast<void *>(&service::Error);
    case 0x04: return reinterpret_cast<void *>(&rt_dll_dispatch);
    case 0x08: return reinterpret_cast<void *>(&service::LibraryCommand);
    case 0x0C: return reinterpret_cast<void *>(&service::CoreCommand);
    case 0x10: return reinterpret_cast<void *>(&service::GetProperty);
    case 0x14: return reinterpret_cast<void *>(&service::SetProperty);
    case 0x18: return reinterpret_cast<void *>(&service::Alloc);
    case 0x20: return reinterpret_cast<void *>(&service::Free);
    case 0x24: return reinterpret_cast<void *>(&service::Exit);
    case 0x28: return reinterpret_cast<void *>(&service::RunEvents);
    case 0x2C: return reinterpret_cast<void *>(&service::ShowWindow);
    case 0x30: return reinterpret_cast<void *>(&service::Register);
    default: return reinterpret_cast<void *>(&UnusedSlot);
    }
}

void *MapLow(size_t size, int protection) {
    void *p = ::mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

} // namespace

std::vector<std::string> ValidateImage(std::span<const uint8_t> bytes, ImageLayout &layout) {
    std::vector<std::string> problems;
    ByteReader r(bytes);
    auto problem = [&](std::string p) { problems.push_back(std::move(p)); };
    auto extend = [&](uint64_t end) { layout.extent = uint32_t(std::max<uint64_t>(layout.extent, end)); };

    auto n = r.u32le(image::kDllCount);
    if (!n) return {"the image is shorter than its header"};
    layout.dllCount = *n;
    if (*n > image::kMaxDllCommands) return {"the image declares " + std::to_string(*n) + " DLL commands"};
    uint64_t tableEnd = image::kDllNames + 8ull * *n;
    if (!r.has(0, size_t(tableEnd))) return {"the DLL command table runs past the image"};
    // The library table: rows of text up to an empty row.
    size_t row = size_t(tableEnd);
    uint32_t rows = 0;
    for (;; ++rows) {
        auto text = r.text(row);
        if (!text) return {"the library table has no end"};
        row += text->size() + 1;
        if (text->empty()) break;
        if (rows >= image::kMaxLibraryRows) return {"the library table has too many rows"};
    }
    extend(row);

    // The segment chain.
    std::vector<SegmentHeader> chain;
    std::set<uint32_t> seen;
    uint32_t at = *r.u32le(image::kFirstSegment);
    while (at != image::kNone) {
        if (!seen.insert(at).second) {
            problem("the segment chain loops back to " + Hex(at));
            break;
        }
        if (chain.size() >= image::kMaxSegments) {
            problem("the segment chain has more than " + std::to_string(image::kMaxSegments) + " segments");
            break;
        }
        if (!r.has(at, image::kSegBaseSize)) {
            problem("segment header at " + Hex(at) + " lies outside the image");
            break;
        }
        SegmentHeader h{at, *r.u32le(at + image::kSegHeaderSize), *r.u32le(at + image::kSegNext),
                        *r.u32le(at + image::kSegFlags), *r.u32le(at + image::kSegMemorySize),
                        *r.u32le(at + image::kSegDataSize), *r.u32le(at + image::kSegDataOffset),
                        *r.u32le(at + image::kSegRelocCount), {}};
        auto name = r.span(at + image::kSegName, image::kSegNameSize);
        h.name = std::string(reinterpret_cast<const char *>(name->data()),
                             strnlen(reinterpret_cast<const char *>(name->data()), image::kSegNameSize));
        uint64_t headerSize = image::kSegBaseSize + 4ull * h.relocCount;
        if (h.size != headerSize) problem("segment " + h.name + ": header size does not match its relocation count");
        else if (!r.has(at, size_t(headerSize))) problem("segment " + h.name + ": relocation entries run past the image");
        else extend(uint64_t(at) + headerSize);
        if (h.dataOffset == image::kNone) {
            if (h.dataSize != 0) problem("segment " + h.name + ": stored size without stored data");
        } else if (!r.has(h.dataOffset, h.dataSize)) {
            problem("segment " + h.name + ": data at " + Hex(h.dataOffset) + " of " + Hex(h.dataSize) +
                    " bytes lies outside the image");
        } else {
            extend(uint64_t(h.dataOffset) + h.dataSize);
        }
        if (h.memorySize < h.dataSize) problem("segment " + h.name + ": memory size below its stored size");
        chain.push_back(h);
        at = h.next;
    }

    auto find = [&](std::string_view name) -> const SegmentHeader * {
        const SegmentHeader *found = nullptr;
        for (const SegmentHeader &h : chain)
            if (h.name == name) {
                if (found) problem("segment " + std::string(name) + " appears twice");
                found = &h;
            }
        if (!found) problem("segment " + std::string(name) + " is missing");
        return found;
    };
    const SegmentHeader *cst = find("const"), *form = find("form"), *code = find("code"), *var = find("var"),
                        *reloc1 = find("@reloc1");
    find("help");
    for (const SegmentHeader &h : chain) {
        bool known = false;
        for (const image::SegmentKind &kind : image::kSegments)
            if (kind.name == h.name) {
                known = true;
                if (h.flags != kind.flags) problem("segment " + h.name + ": flags " + Hex(h.flags));
            }
        if (!known) problem("unknown segment \"" + h.name + "\"");
        if (h.relocCount != 0 && h.name != "code") problem("segment " + h.name + " has relocation entries");
    }
    if (!problems.empty()) return problems;
    if (var->dataOffset != image::kNone || var->memorySize < image::kVarMinimum)
        problem("the var segment must have no stored data and at least 4 bytes");
    if (cst->dataOffset == image::kNone || code->dataOffset == image::kNone || form->dataOffset == image::kNone)
        problem("a segment without data");
    if (!problems.empty()) return problems;

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
    layout.startRoutine = *r.u32le(image::kStartRoutine);
    if (layout.startRoutine >= layout.codeSize) problem("the start routine lies outside the code");

    // DLL names point into the constants and end there.
    ByteReader constants(bytes.subspan(layout.constData, layout.constSize));
    for (uint32_t i = 0; i < 2 * layout.dllCount; ++i) {
        uint32_t offset = *r.u32le(image::kDllNames + 4 * i);
        if (!constants.text(offset)) problem("DLL name " + std::to_string(i) + " lies outside the constants");
    }

    // Code relocations: inside the code with 4 bytes to spare, a known kind, a value inside its base.
    ByteReader codeBytes(bytes.subspan(layout.codeData, layout.codeSize));
    for (uint32_t i = 0; i < layout.codeRelocs; ++i) {
        uint32_t entry = *r.u32le(layout.codeHeader + image::kSegRelocs + 4 * i);
        uint32_t offset = image::RelocOffset(entry), kind = image::RelocKindOf(entry);
        auto value = codeBytes.u32le(offset);
        if (!value) {
            problem("relocation " + std::to_string(i) + " at " + Hex(offset) + " lies outside the code");
            continue;
        }
        uint64_t bound = kind == 0 ? 4 * image::kSlotCount : kind == 1 ? layout.constSize : kind == 2 ? layout.varSize
                                                                         : kind == 3 ? layout.codeSize : 0;
        if (kind > 3) problem("relocation " + std::to_string(i) + " has unknown kind " + std::to_string(kind));
        else if (*value >= bound || (kind == 0 && *value % 4 != 0))
            problem("relocation " + std::to_string(i) + " of kind " + std::to_string(kind) + " holds " + Hex(*value) +
                    ", outside its base");
    }
    // @reloc1 is read by its counts, not by its stated size.
    size_t g = layout.reloc1Data;
    for (uint32_t group = 0; group < image::kFixupGroups; ++group) {
        auto count = r.u32le(g);
        if (!count || !r.has(g + 4, size_t(*count) * 4)) {
            problem("fixup group " + std::to_string(group + 1) + " runs past the image");
            break;
        }
        for (uint32_t k = 0; k < *count; ++k)
            if (!codeBytes.has(*r.u32le(g + 4 + 4 * k), 4))
                problem("fixup " + std::to_string(k) + " of group " + std::to_string(group + 1) + " lies outside the code");
        g += 4 + size_t(*count) * 4;
        extend(g);
    }
    return problems;
}

std::vector<DllName> ImageDllNames(std::span<const uint8_t> bytes, const ImageLayout &layout) {
    ByteReader r(bytes);
    ByteReader constants(bytes.subspan(layout.constData, layout.constSize));
    std::vector<DllName> names;
    for (uint32_t i = 0; i < layout.dllCount; ++i)
        names.push_back({std::string(*constants.text(*r.u32le(image::kDllNames + 4 * i))),
                         std::string(*constants.text(*r.u32le(image::kDllNames + 4 * (layout.dllCount + i))))});
    return names;
}

MappingInfo FindMapping(const void *address) {
    MappingInfo info;
    uintptr_t a = reinterpret_cast<uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long long start = 0, end = 0;
        char perms[8] = {};
        if (std::sscanf(line.c_str(), "%llx-%llx %7s", &start, &end, perms) != 3) continue;
        if (a < start || a >= end) continue;
        info.available = size_t(end - a);
        info.writable = perms[1] == 'w';
        info.executable = perms[2] == 'x';
        // A section may continue in the next mapping when permissions change; the image does not.
        break;
    }
    return info;
}

void ApplyRelocations(uint8_t *image, const ImageLayout &layout, const uint32_t bases[4]) {
    uint8_t *code = image + layout.codeData;
    for (uint32_t i = 0; i < layout.codeRelocs; ++i) {
        uint32_t entry;
        std::memcpy(&entry, image + layout.codeHeader + image::kSegRelocs + 4 * i, 4);
        uint32_t value;
        std::memcpy(&value, code + image::RelocOffset(entry), 4);
        value += bases[image::RelocKindOf(entry)];
        std::memcpy(code + image::RelocOffset(entry), &value, 4);
    }
}

PreparedImage PrepareImage(uint8_t *image, size_t size) {
    PreparedImage p;
    ImageLayout layout;
    std::vector<std::string> problems = ValidateImage({image, size}, layout);
    if (!problems.empty()) {
        p.error = "The program image is invalid:";
        for (const std::string &s : problems) p.error += "\n  " + s;
        return p;
    }
    std::vector<DllName> dlls = ImageDllNames({image, size}, layout);
    if (dlls.size() > service::kMaxDllCommands) {
        p.error = "The program image has too many DLL commands";
        return p;
    }
    for (size_t i = 0; i < dlls.size(); ++i) {
        void *fn = win32::FindDllFunction(dlls[i].dll, dlls[i].function);
        if (!fn) {
            p.error = "The program image calls " + dlls[i].function + " in " + dlls[i].dll + ", which this system lacks";
            return p;
        }
        service::rt_dll_functions[i] = fn;
    }
    service::rt_dll_function_count = uint32_t(dlls.size());

    // The image runs in place when it can; otherwise a low copy of its extent runs.
    MappingInfo where = FindMapping(image);
    bool low = reinterpret_cast<uintptr_t>(image) + layout.extent < (uintptr_t(1) << 31);
    if (!where.writable || !where.executable || !low) {
        auto *copy = static_cast<uint8_t *>(MapLow(layout.extent, PROT_READ | PROT_WRITE | PROT_EXEC));
        if (!copy) {
            p.error = "No memory below 2 GiB for the program image";
            return p;
        }
        std::memcpy(copy, image, layout.extent);
        image = copy;
    }

    // The service table: 13 four-byte slots, each holding the address of a trampoline that jumps to
    // the 64-bit service function with every register untouched (movabs r11, target; jmp r11).
    constexpr size_t kTrampolines = 64, kTrampolineSize = 16;
    auto *page = static_cast<uint8_t *>(MapLow(4096, PROT_READ | PROT_WRITE));
    p.var = static_cast<uint8_t *>(MapLow((layout.varSize + 4095) / 4096 * 4096, PROT_READ | PROT_WRITE));
    if (!page || !p.var) {
        p.error = "No memory below 2 GiB for the service table";
        return p;
    }
    p.serviceTable = reinterpret_cast<uint32_t *>(page);
    for (uint32_t i = 0; i < image::kSlotCount; ++i) {
        uint8_t *t = page + kTrampolines + i * kTrampolineSize;
        uint64_t target = reinterpret_cast<uint64_t>(SlotFunction(i * 4));
        const uint8_t code[] = {0x49, 0xBB};
        std::memcpy(t, code, 2);
        std::memcpy(t + 2, &target, 8);
        const uint8_t jump[] = {0x41, 0xFF, 0xE3};
        std::memcpy(t + 10, jump, 3);
        p.serviceTable[i] = uint32_t(reinterpret_cast<uintptr_t>(t));
    }
    ::mprotect(page, 4096, PROT_READ | PROT_EXEC);

    uint8_t *code = image + layout.codeData;
    const uint32_t bases[4] = {uint32_t(reinterpret_cast<uintptr_t>(page)),
                               uint32_t(reinterpret_cast<uintptr_t>(image + layout.constData)),
                               uint32_t(reinterpret_cast<uintptr_t>(p.var)), uint32_t(reinterpret_cast<uintptr_t>(code))};
    ApplyRelocations(image, layout, bases);
    p.code = code;
    p.codeSize = layout.codeSize;
    p.form = image + layout.formData;
    p.formSize = layout.formSize;
    p.start = reinterpret_cast<void (*)()>(code + layout.startRoutine);
    return p;
}

} // namespace rt
