// The image builder on relocatable objects of both machines it reads (ELF64 x86-64, ELF32 i386):
// the same refusals, each naming what it refuses, and malformed objects refused without fault.
#include <elf.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tools/mkimage/image_builder.h"
#include "temp_dir.h"

using mkimage::BuildProblem;
using rt::testing::ReadAll;

TEST(ImageBuilder, BothMachinesObjectsAreRefusedForTheSameReasonsNamingTheSymbol) {
    struct Case {
        const char *name;
        BuildProblem problem;
        const char *named;
    } cases[] = {
        {"UNDEFINED", BuildProblem::UndefinedSymbol, "NotDefinedAnywhere"},
        {"WRITABLE", BuildProblem::WritableData, "WritableWord"},
        {"TLS", BuildProblem::ThreadLocalData, "ThreadWord"},
        {"CONSTRUCTOR", BuildProblem::StaticConstructors, "ConstructorTable"},
        {"RELOCATION", BuildProblem::UnsupportedRelocation, "RtStartRoutine"},
    };
    for (const char *machine : {"64", "32"}) {
        for (const Case &c : cases) {
            std::string path = std::string(REFUSED_DIR) + "/" + c.name + "-" + machine + ".o";
            if (!std::filesystem::exists(path)) continue; // no i386 compiler: the 32-bit cases are not built
            std::vector<uint8_t> bytes = ReadAll(path);
            auto object = mkimage::ParseElfObject(bytes);
            ASSERT_TRUE(object) << path << ": " << rt::DescribeFinding(object.error());
            EXPECT_EQ(object->machine, machine[0] == '6' ? mkimage::Machine::X86_64 : mkimage::Machine::I386);
            auto built = mkimage::BuildImage(*object, mkimage::FormInput{});
            ASSERT_FALSE(built) << path;
            const std::vector<mkimage::BuildFinding> found = built.error();
            bool named = std::any_of(found.begin(), found.end(), [&](const mkimage::BuildFinding &f) {
                return f.code == c.problem && f.where.find(c.named) != std::string::npos;
            });
            EXPECT_TRUE(named) << path << ": " << rt::DescribeFindings("found", found);
        }
    }
}

TEST(ImageBuilder, MalformedObjectsOfEitherClassAreRefusedWithoutFault) {
    for (const std::string path : {APP_OBJECT, APP_OBJECT_I386}) {
        if (path.empty()) continue;
        const std::vector<uint8_t> object = ReadAll(path);
        ASSERT_TRUE(mkimage::ParseElfObject(object)) << path;
        // Cut anywhere: the section table or a section then lies outside the file.
        for (size_t n = 0; n < object.size(); n += 1 + n / 3)
            EXPECT_FALSE(mkimage::ParseElfObject(std::span(object).first(n))) << path << " cut at " << n;
        // The other class's machine, and the other form of relocations, are not taken for this one.
        std::vector<uint8_t> machine = object;
        machine[0x12] = machine[4] == ELFCLASS64 ? EM_386 : EM_X86_64;
        EXPECT_EQ(mkimage::ParseElfObject(machine).error().code, mkimage::ElfError::NotRelocatable);
        std::vector<uint8_t> unknownClass = object;
        unknownClass[4] = 7;
        EXPECT_EQ(mkimage::ParseElfObject(unknownClass).error().code, mkimage::ElfError::NotElf64);
    }
}
