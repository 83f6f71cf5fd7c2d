// The image builder's state: what placement (placement.cpp) decides and assembly (assembly.cpp) writes.
#pragma once

#include <map>
#include <optional>

#include "formats/image/image_format.h"
#include "image_builder.h"

namespace mkimage {

enum class Segment { None, Const, Code, Var };

// Where a section of the object went.
struct Placement {
    Segment segment = Segment::None;
    uint32_t offset = 0;
};

// What a symbol stands for in the image.
struct Target {
    enum Kind { Code, Const, Var, Identifier } kind;
    uint32_t value;          // offset in the segment's data, or the identifier's value
    image::FixupGroup group; // for identifiers
};

// A reference inside the image whose distance is known once the segments are placed.
struct PcRelative {
    uint32_t site;
    Target::Kind kind;
    uint32_t value;
    int64_t addend;
};

struct DllCommand {
    const char *dll;
    const char *function;
};
inline constexpr DllCommand kDllCommands[] = {
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes) {dll, function},
#include "contract/dll_commands.def"
#undef DLL_COMMAND
};

// Code starts on this boundary: functions keep the alignment the compiler gave them.
inline constexpr uint32_t kCodeAlignment = 64;

void PutU32(std::vector<uint8_t> &b, size_t at, uint32_t v);
void Append(std::vector<uint8_t> &b, const void *p, size_t n);

class Builder {
  public:
    Builder(const ElfObject &o, const FormInput &f) : obj_(o), form_(f) {}

    // ---- Placement (placement.cpp) ----
    void PlaceSections();
    void AddStubs();
    void ApplyRelocations();
    // What the symbol stands for, or nothing with the finding that says why.
    std::optional<Target> Resolve(uint32_t index, BuildFinding &why) const;

    // ---- Assembly (assembly.cpp) ----
    BuiltImage Assemble();
    // The bytes in front of the first segment header: the header, the DLL command table, the library table.
    static uint32_t HeaderSize();

    std::vector<BuildFinding> problems;

  private:
    void Problem(BuildProblem p, std::string where) { problems.push_back({p, std::move(where)}); }
    void PlaceCode(uint32_t index);
    void PlaceConstants(const std::vector<uint32_t> &sections);
    std::string SymbolsIn(uint32_t section) const;
    std::string SymbolName(const Relocation &r) const;
    std::optional<uint32_t> SymbolIndex(const std::string &name) const;
    std::vector<uint8_t> FormWithHandlers();
    std::vector<uint8_t> Reloc1() const;
    void ResolvePcRelative(std::vector<uint8_t> &img, uint32_t codeBase, uint32_t constBase) const;
    std::vector<std::string> Map() const;

    const ElfObject &obj_;
    const FormInput &form_;
    std::map<uint32_t, Placement> placement_;
    std::map<std::string, uint32_t> stubs_;
    std::vector<uint8_t> const_, code_;
    uint32_t varSize_ = 0;
    std::vector<uint32_t> dllFileNames_, dllFunctionNames_;
    std::vector<uint32_t> relocs_;
    std::vector<PcRelative> pcRelative_;
    std::vector<uint32_t> fixups_[image::kFixupGroups];
};

} // namespace mkimage
