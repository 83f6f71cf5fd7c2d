#include "image_builder.h"

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "../../image/image_format.h"

namespace mkimage {
namespace {

using image::FixupGroup;
using image::RelocKind;

enum class Segment { None, Const, Code, Var };

struct Placement {
    Segment segment = Segment::None;
    uint32_t offset = 0;
};

// What a symbol stands for in the image.
struct Target {
    enum Kind { Code, Const, Var, Identifier } kind;
    uint32_t value;    // offset in the segment's data, or the identifier's value
    FixupGroup group;  // for identifiers
};

struct IdentifierValue {
    uint32_t value;
    FixupGroup group;
};

const std::map<std::string, IdentifierValue> &Identifiers() {
    static const std::map<std::string, IdentifierValue> ids = [] {
        std::map<std::string, IdentifierValue> m;
#define UNIT_ID(name, value) m[#name] = {value, FixupGroup::Units};
#define LIBRARY_ROW(name, value) m[#name] = {value, FixupGroup::LibraryRows};
#define UNIT_TYPE(name, value) m[#name] = {value, FixupGroup::UnitTypes};
#define DLL_COMMAND(index, dll, function, thunk) m["DllIdx_" #thunk] = {index, FixupGroup::DllIndexes};
#include "../../image/dll_commands.def"
#include "../../image/identifiers.def"
#undef UNIT_ID
#undef LIBRARY_ROW
#undef UNIT_TYPE
#undef DLL_COMMAND
        return m;
    }();
    return ids;
}

struct DllCommand {
    const char *dll;
    const char *function;
};
constexpr DllCommand kDllCommands[] = {
#define DLL_COMMAND(index, dll, function, thunk) {dll, function},
#include "../../image/dll_commands.def"
#undef DLL_COMMAND
};

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

void PutU32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    std::memcpy(b.data() + at, &v, 4);
}
void Append(std::vector<uint8_t> &b, const void *p, size_t n) {
    b.insert(b.end(), static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + n);
}
// Pads until the bytes' end, placed at `base` in the image, is a multiple of the alignment. The
// image itself is placed page-aligned, so image offsets stand for alignment in memory.
void Align(std::vector<uint8_t> &b, uint64_t alignment, uint8_t fill, uint64_t base = 0) {
    if (alignment > 1)
        while ((base + b.size()) % alignment) b.push_back(fill);
}

// Code starts on this boundary: functions keep the alignment the compiler gave them.
constexpr uint32_t kCodeAlignment = 64;

bool StartsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

class Builder {
  public:
    Builder(const ElfObject &o, const FormInput &f, std::vector<std::string> &e) : obj_(o), form_(f), errors_(e) {}

    std::optional<BuiltImage> Build() {
        PlaceSections();
        AddStubs();
        ApplyRelocations();
        if (!errors_.empty()) return std::nullopt;
        BuiltImage built = Assemble();
        if (!errors_.empty()) return std::nullopt;
        return built;
    }

  private:
    void Error(std::string message) { errors_.push_back(std::move(message)); }

    // The section index that defines a symbol, or -1.
    int SectionOf(const std::string &symbol) const {
        for (const Symbol &s : obj_.symbols)
            if (s.name == symbol && s.section != SHN_UNDEF && s.section < obj_.sections.size()) return s.section;
        return -1;
    }

    std::string SymbolsIn(uint32_t section) const {
        std::string names;
        for (const Symbol &s : obj_.symbols)
            if (s.section == section && !s.name.empty() && s.type != STT_SECTION) names += (names.empty() ? "" : ", ") + s.name;
        return names.empty() ? "(no symbol)" : names;
    }

    void PlaceCode(uint32_t index) {
        const Section &s = obj_.sections[index];
        Align(code_, s.align, 0xCC);
        placement_[index] = {Segment::Code, uint32_t(code_.size())};
        Append(code_, s.bytes.data(), s.bytes.size());
    }

    void PlaceSections() {
        std::vector<uint32_t> code, constants;
        for (uint32_t i = 0; i < obj_.sections.size(); ++i) {
            const Section &s = obj_.sections[i];
            if (!(s.flags & SHF_ALLOC) || s.size == 0 || s.type == SHT_NOTE) continue;
            if (s.flags & SHF_TLS) Error("thread-local data in " + s.name + ": " + SymbolsIn(i));
            else if (StartsWith(s.name, ".init_array") || StartsWith(s.name, ".fini_array") ||
                     StartsWith(s.name, ".ctors") || StartsWith(s.name, ".dtors") || StartsWith(s.name, ".preinit_array"))
                Error("static constructors or destructors in " + s.name + ": " + SymbolsIn(i));
            else if (StartsWith(s.name, ".eh_frame")) Error("unwind tables in " + s.name + " (compile without them)");
            else if (s.flags & SHF_EXECINSTR) code.push_back(i);
            else if (s.flags & SHF_WRITE) {
                if (s.name == ".rtvar") {
                    placement_[i] = {Segment::Var, varSize_};
                    varSize_ += uint32_t(s.size);
                } else {
                    Error("writable data in " + s.name + ": " + SymbolsIn(i));
                }
            } else if (s.name != ".rtconst") {
                constants.push_back(i);
            }
        }

        // const: the fixed table first, the DLL names behind it, then whatever the compiler added.
        int table = -1;
        for (uint32_t i = 0; i < obj_.sections.size(); ++i)
            if (obj_.sections[i].name == ".rtconst") table = int(i);
        if (table < 0) Error("no .rtconst section (image/constants.S) in the object");
        else {
            placement_[uint32_t(table)] = {Segment::Const, 0};
            Append(const_, obj_.sections[uint32_t(table)].bytes.data(), obj_.sections[uint32_t(table)].size);
        }
        std::map<std::string, uint32_t> stored;
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
        for (uint32_t i : constants) {
            const Section &s = obj_.sections[i];
            Align(const_, s.align, 0, constBase);
            placement_[i] = {Segment::Const, uint32_t(const_.size())};
            Append(const_, s.bytes.data(), s.bytes.size());
        }

        // code: support routines first; the thread entry wrapper, the window handler, the empty routines
        // and the start routine last, before the stubs.
        std::vector<int> first, last;
        for (const char *sym : {"_Z10TextLengthPKc", "_Z13JoinTextArrayjPKPKc", "_Z17ArrayElementCountPv",
                                "_Z23ArrayElementCountOrZeroPv"})
            first.push_back(SectionOf(sym));
        for (const char *sym : {"RtThreadEntry", "RtWindowHandler", "RtStartRoutine"}) last.push_back(SectionOf(sym));
        if (last.back() < 0) Error("no start routine (RtStartRoutine) in the object");
        auto isIn = [](const std::vector<int> &v, uint32_t i) { return std::find(v.begin(), v.end(), int(i)) != v.end(); };
        std::set<uint32_t> placed;
        for (int i : first)
            if (i >= 0 && placed.insert(uint32_t(i)).second) PlaceCode(uint32_t(i));
        for (uint32_t i : code)
            if (!isIn(first, i) && !isIn(last, i) && placed.insert(i).second) PlaceCode(i);
        for (int i : last)
            if (i >= 0 && placed.insert(uint32_t(i)).second) PlaceCode(uint32_t(i));
    }

    void AddStubs() {
        Align(code_, 16, 0xCC);
        for (const image::ServiceSlot &s : image::kStubOrder) {
            uint32_t at = uint32_t(code_.size());
            stubs_[std::string(s.symbol)] = at;
            Append(code_, image::kStubBytes.data(), image::kStubBytes.size());
            PutU32(code_, at + image::kStubOperand, s.slot);
            relocs_.push_back(image::EncodeReloc(at + image::kStubOperand, RelocKind::ServiceTable));
        }
    }

    std::optional<Target> Resolve(uint32_t index, std::string &why) const {
        const Symbol &s = obj_.symbols[index];
        if (s.section == SHN_UNDEF) {
            if (auto it = stubs_.find(s.name); it != stubs_.end()) return Target{Target::Code, it->second, {}};
            if (auto it = Identifiers().find(s.name); it != Identifiers().end())
                return Target{Target::Identifier, it->second.value, it->second.group};
            why = "undefined symbol " + s.name;
            return std::nullopt;
        }
        if (s.section >= obj_.sections.size()) {
            why = "symbol " + s.name + " is absolute or common";
            return std::nullopt;
        }
        auto p = placement_.find(s.section);
        if (p == placement_.end()) {
            why = "symbol " + s.name + " lies in " + obj_.sections[s.section].name + ", which the image does not hold";
            return std::nullopt;
        }
        uint32_t offset = p->second.offset + uint32_t(s.value);
        switch (p->second.segment) {
        case Segment::Code: return Target{Target::Code, offset, {}};
        case Segment::Const: return Target{Target::Const, offset, {}};
        case Segment::Var: return Target{Target::Var, offset, {}};
        default: why = "symbol " + s.name + " has no segment"; return std::nullopt;
        }
    }

    std::string SymbolName(const Relocation &r) const {
        const Symbol &s = obj_.symbols[r.symbol];
        return s.type == STT_SECTION ? obj_.sections[s.section].name : s.name;
    }

    void ApplyRelocations() {
        for (const Relocation &r : obj_.relocations) {
            auto p = placement_.find(r.section);
            if (p == placement_.end()) continue; // debugging sections and the like
            std::string where = obj_.sections[r.section].name + "+0x" + Hex(uint32_t(r.offset));
            if (p->second.segment != Segment::Code) {
                Error("relocation in data at " + where + " to " + SymbolName(r) +
                      " (a table of addresses cannot be placed; build it in code)");
                continue;
            }
            if (r.offset + 4 > obj_.sections[r.section].size) {
                Error("relocation at " + where + " runs past its section");
                continue;
            }
            uint32_t site = p->second.offset + uint32_t(r.offset);
            std::string why;
            auto target = Resolve(r.symbol, why);
            if (!target) {
                Error(why + " (referenced at " + where + ")");
                continue;
            }
            switch (r.type) {
            case R_X86_64_PC32:
            case R_X86_64_PLT32:
                if (target->kind == Target::Var || target->kind == Target::Identifier) {
                    Error("PC-relative reference to " + SymbolName(r) + " at " + where +
                          (target->kind == Target::Var ? " (reach variables by absolute address)" : ""));
                    break;
                }
                pcRelative_.push_back({site, target->kind, target->value, r.addend});
                break;
            case R_X86_64_32:
            case R_X86_64_32S: {
                int64_t value = int64_t(target->value) + r.addend;
                if (value < 0 || value > INT32_MAX) {
                    Error("reference to " + SymbolName(r) + " at " + where + " out of range");
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
            default:
                Error("relocation type " + std::to_string(r.type) + " to " + SymbolName(r) + " at " + where +
                      " is not supported");
            }
        }
    }

    static std::string Hex(uint32_t v) {
        char b[16];
        std::snprintf(b, sizeof b, "%X", v);
        return b;
    }

    std::vector<uint8_t> FormBytes() const {
        if (!form_.bytes.empty()) return form_.bytes;
        // A window description without units, until the window's description is added.
        std::vector<uint8_t> f;
        for (uint32_t w : {8u, 0x52010001u, 0x0274B960u, 0u, 0x19010009u, 0u, 0u, 0u, 0u}) PutU32(f, f.size(), w);
        return f;
    }

    // The bytes in front of the first segment header: the header, the DLL command table, the library table.
    static uint32_t HeaderSize() {
        uint32_t size = image::kDllNames + 8 * uint32_t(std::size(kDllCommands));
        for (const LibraryRow &row : kLibraries)
            size += uint32_t(std::strlen(row.name) + std::strlen(row.identifier) + std::strlen(row.major) +
                             std::strlen(row.minor) + std::strlen(row.description) + 4 + 1);
        return size + 1;
    }

    BuiltImage Assemble() {
        BuiltImage out;
        std::vector<uint8_t> &img = out.bytes;
        uint32_t n = uint32_t(std::size(kDllCommands));
        img.assign(image::kDllNames + 8 * n, 0);
        for (uint32_t i = 0; i < n; ++i) {
            PutU32(img, image::kDllNames + 4 * i, dllFileNames_[i]);
            PutU32(img, image::kDllNames + 4 * n + 4 * i, dllFunctionNames_[i]);
        }
        for (const LibraryRow &row : kLibraries) {
            std::string text = std::string(row.name) + "\r" + row.identifier + "\r" + row.major + "\r" + row.minor + "\r" +
                               row.description;
            Append(img, text.c_str(), text.size() + 1);
        }
        img.push_back(0); // the empty row ends the table
        if (img.size() != HeaderSize()) Error("internal: the header size was foreseen wrongly");

        std::vector<uint8_t> form = FormBytes();
        for (const FormInput::Handler &h : form_.handlers) {
            auto it = std::find_if(obj_.symbols.begin(), obj_.symbols.end(),
                                   [&](const Symbol &s) { return s.name == h.symbol && s.section != SHN_UNDEF; });
            std::string why;
            auto target = it == obj_.symbols.end() ? std::nullopt
                                                   : Resolve(uint32_t(it - obj_.symbols.begin()), why);
            if (!target || target->kind != Target::Code || h.offset + 4 > form.size()) {
                Error("form handler " + h.symbol + " is not a routine of the image");
                continue;
            }
            PutU32(form, h.offset, target->value);
        }

        std::vector<uint8_t> reloc1;
        for (const auto &group : fixups_) {
            PutU32(reloc1, reloc1.size(), uint32_t(group.size()));
            for (uint32_t site : group) PutU32(reloc1, reloc1.size(), site);
        }

        // The chain, in order; each header directly followed by its data.
        struct Seg {
            const std::vector<uint8_t> *data;
            uint32_t memorySize;
            uint32_t statedSize;
            const std::vector<uint32_t> *relocs;
        };
        std::vector<uint8_t> help(image::kHelpSize, 0), none;
        std::vector<uint32_t> noRelocs;
        uint32_t reloc1Stated = uint32_t(reloc1.size()) - image::kReloc1SizeShortfall;
        Seg segs[] = {
            {&const_, uint32_t(const_.size()), uint32_t(const_.size()), &noRelocs},
            {&form, uint32_t(form.size()), uint32_t(form.size()), &noRelocs},
            {&help, image::kHelpSize, image::kHelpSize, &noRelocs},
            {&code_, uint32_t(code_.size()), uint32_t(code_.size()), &relocs_},
            {&none, std::max(varSize_, image::kVarMinimum), 0, &noRelocs},
            {&reloc1, reloc1Stated, reloc1Stated, &noRelocs},
        };
        uint32_t headers[6];
        uint32_t dataOffsets[6];
        for (size_t i = 0; i < 6; ++i) {
            uint32_t headerSize = image::kSegBaseSize + 4 * uint32_t(segs[i].relocs->size());
            if (segs[i].data == &code_) // the chain links headers by offset, so padding may precede this one
                while ((img.size() + headerSize) % kCodeAlignment) img.push_back(0);
            uint32_t at = uint32_t(img.size());
            if (i > 0) PutU32(img, headers[i - 1] + image::kSegNext, at);
            headers[i] = at;
            img.resize(at + headerSize, 0);
            PutU32(img, at + image::kSegHeaderSize, headerSize);
            PutU32(img, at + image::kSegFlags, image::kSegments[i].flags);
            std::memcpy(img.data() + at + image::kSegName, image::kSegments[i].name.data(), image::kSegments[i].name.size());
            PutU32(img, at + image::kSegMemorySize, segs[i].memorySize);
            PutU32(img, at + image::kSegRelocCount, uint32_t(segs[i].relocs->size()));
            for (size_t k = 0; k < segs[i].relocs->size(); ++k)
                PutU32(img, at + image::kSegRelocs + 4 * k, (*segs[i].relocs)[k]);
            if (segs[i].data->empty()) {
                PutU32(img, at + image::kSegDataSize, 0);
                PutU32(img, at + image::kSegDataOffset, image::kNone);
                dataOffsets[i] = image::kNone;
            } else {
                dataOffsets[i] = uint32_t(img.size());
                PutU32(img, at + image::kSegDataSize, segs[i].statedSize);
                PutU32(img, at + image::kSegDataOffset, dataOffsets[i]);
                Append(img, segs[i].data->data(), segs[i].data->size());
            }
            PutU32(img, at + image::kSegNext, image::kNone); // until the next header is placed
        }

        // PC-relative references inside the image: code and const run in place, so their distance is fixed.
        uint32_t codeBase = dataOffsets[3], constBase = dataOffsets[0];
        for (const PcRelative &p : pcRelative_) {
            int64_t target = int64_t(p.kind == Target::Code ? codeBase : constBase) + p.value;
            int64_t value = target + p.addend - int64_t(codeBase + p.site);
            PutU32(img, codeBase + p.site, uint32_t(int32_t(value)));
        }

        PutU32(img, image::kFirstSegment, headers[0]);
        for (uint32_t k = 0; k < 4; ++k) PutU32(img, image::kUnsettled28 + 4 * k, image::kHeaderValues[k]);
        PutU32(img, image::kDllCount, n);
        uint32_t start = 0;
        {
            std::string why;
            if (auto t = Resolve(SymbolIndex("RtStartRoutine"), why)) start = t->value;
        }
        PutU32(img, image::kStartRoutine, start);
        PutU32(img, image::kConstHeader, headers[0]);
        PutU32(img, image::kFormHeader, headers[1]);
        PutU32(img, image::kHelpHeader, headers[2]);
        PutU32(img, image::kCodeHeader, headers[3]);
        PutU32(img, image::kVarHeader, headers[4]);
        PutU32(img, image::kConstHeaderAgain, headers[0]);

        // The map: where each named routine, constant and variable went.
        for (uint32_t i = 0; i < obj_.symbols.size(); ++i) {
            const Symbol &s = obj_.symbols[i];
            if (s.name.empty() || s.type == STT_SECTION || s.type == STT_FILE || s.section == SHN_UNDEF) continue;
            std::string why;
            auto t = Resolve(i, why);
            if (!t) continue;
            const char *seg = t->kind == Target::Code ? "code" : t->kind == Target::Const ? "const" : "var";
            out.map.push_back(std::string(seg) + " 0x" + Hex(t->value) + " " + s.name);
        }
        for (const auto &[name, at] : stubs_) out.map.push_back("code 0x" + Hex(at) + " stub:" + name);
        return out;
    }

    uint32_t SymbolIndex(const std::string &name) const {
        for (uint32_t i = 0; i < obj_.symbols.size(); ++i)
            if (obj_.symbols[i].name == name && obj_.symbols[i].section != SHN_UNDEF) return i;
        return 0;
    }

    struct PcRelative {
        uint32_t site;
        Target::Kind kind;
        uint32_t value;
        int64_t addend;
    };

    const ElfObject &obj_;
    const FormInput &form_;
    std::vector<std::string> &errors_;
    std::map<uint32_t, Placement> placement_;
    std::map<std::string, uint32_t> stubs_;
    std::vector<uint8_t> const_, code_;
    uint32_t varSize_ = 0;
    std::vector<uint32_t> dllFileNames_, dllFunctionNames_;
    std::vector<uint32_t> relocs_;
    std::vector<PcRelative> pcRelative_;
    std::vector<uint32_t> fixups_[image::kFixupGroups];
};

} // namespace

std::optional<BuiltImage> BuildImage(const ElfObject &object, const FormInput &form, std::vector<std::string> &errors) {
    return Builder(object, form, errors).Build();
}

} // namespace mkimage
