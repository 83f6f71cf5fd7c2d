// The built program image, read back by a reader written here, and the loader's checks.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "app/constants.h"
#include "host_fixture.h"
#include "formats/image/image_format.h"
#include "formats/image/image_view.h"
#include "runtime/core/image_loader.h"
#include "runtime/platform/platform.h"
#include "recording_frontend.h"
#include "temp_dir.h"

using rt::testing::ReadAll;

namespace {
// The DLL commands of the table, counted.
constexpr uint32_t kDllCommandCount = 0
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes) +1
#include "contract/dll_commands.def"
#undef DLL_COMMAND
    ;
} // namespace

namespace {

// The service slot each stub at the end of the code segment jumps through, in address order, as the
// image's layout prescribes it (written down here, not derived from the table the builder uses).
constexpr uint32_t kStubSlots[] = {0x24, 0x28, 0x2C, 0x30, 0x0C, 0x20, 0x18, 0x00, 0x08, 0x04, 0x14, 0x10};

uint32_t U32(const std::vector<uint8_t> &b, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
    return v;
}
void Put(std::vector<uint8_t> &b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
std::string TextAt(const std::vector<uint8_t> &b, size_t at) {
    return std::string(reinterpret_cast<const char *>(&b[at]));
}

struct Seg {
    uint32_t at, headerSize, next, flags, memory, stored, data, relocs;
    std::string name;
};

// The segment chain, read with no help from the runtime's validator.
std::vector<Seg> Chain(const std::vector<uint8_t> &img) {
    std::vector<Seg> chain;
    for (uint32_t at = U32(img, 0x24); at != 0xFFFFFFFF && chain.size() < 10; at = chain.back().next)
        chain.push_back({at, U32(img, at), U32(img, at + 4), U32(img, at + 8), U32(img, at + 36), U32(img, at + 40),
                         U32(img, at + 44), U32(img, at + 48), TextAt(img, at + 12)});
    return chain;
}

class BuiltImage : public ::testing::Test {
  protected:
    std::vector<uint8_t> img_ = ReadAll(PROGRAM_IMAGE);
};

} // namespace

TEST_F(BuiltImage, HeaderTablesAndChainHaveTheDesignedLayout) {
    ASSERT_GT(img_.size(), 0x100u);
    EXPECT_TRUE(std::all_of(img_.begin(), img_.begin() + 0x24, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(U32(img_, 0x28), 1u);
    EXPECT_EQ(U32(img_, 0x2C), 3u);
    EXPECT_EQ(U32(img_, 0x30), 0u);
    EXPECT_EQ(U32(img_, 0x34), 0x0001014Fu);
    ASSERT_EQ(U32(img_, 0x38), kDllCommandCount);

    std::vector<Seg> chain = Chain(img_);
    ASSERT_EQ(chain.size(), 6u);
    const char *names[] = {"const", "form", "help", "code", "var", "@reloc1"};
    const uint32_t flags[] = {1, 1, 1, 5, 0x13, 1};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(chain[i].name, names[i]);
        EXPECT_EQ(chain[i].flags, flags[i]) << names[i];
        EXPECT_EQ(chain[i].headerSize, 56 + 4 * chain[i].relocs) << names[i];
        if (chain[i].data != 0xFFFFFFFF) {
            EXPECT_EQ(chain[i].data, chain[i].at + chain[i].headerSize) << "data follows its header";
        }
        if (i > 0 && i != 3) {
            const Seg &prev = chain[i - 1];
            uint32_t end = prev.data == 0xFFFFFFFF ? prev.at + prev.headerSize : prev.data + prev.stored;
            EXPECT_EQ(chain[i].at, end) << names[i] << " follows the segment before it";
        }
    }
    EXPECT_EQ(chain[5].next, 0xFFFFFFFFu);
    EXPECT_EQ(chain[3].data % 64, 0u) << "code starts on a 64-byte boundary, keeping its functions' alignment";
    EXPECT_EQ(U32(img_, 0x40), chain[0].at);
    EXPECT_EQ(U32(img_, 0x44), chain[1].at);
    EXPECT_EQ(U32(img_, 0x48), chain[2].at);
    EXPECT_EQ(U32(img_, 0x4C), chain[3].at);
    EXPECT_EQ(U32(img_, 0x50), chain[4].at);
    EXPECT_EQ(U32(img_, 0x54), chain[0].at);
    EXPECT_EQ(U32(img_, 0x24), chain[0].at);

    // help: 56 zero bytes; var: 4 bytes in memory, nothing stored.
    EXPECT_EQ(chain[2].stored, 56u);
    EXPECT_TRUE(
        std::all_of(img_.begin() + chain[2].data, img_.begin() + chain[2].data + 56, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(chain[4].memory, 4u);
    EXPECT_EQ(chain[4].stored, 0u);
    EXPECT_EQ(chain[4].data, 0xFFFFFFFFu);

    // Only the code segment has relocation entries; twelve of kind 0, one per stub.
    for (size_t i : {0, 1, 2, 4, 5}) EXPECT_EQ(chain[i].relocs, 0u) << names[i];
    int kinds[8] = {};
    for (uint32_t k = 0; k < chain[3].relocs; ++k) ++kinds[U32(img_, chain[3].at + 56 + 4 * k) & 7];
    EXPECT_EQ(kinds[0], 12);
    EXPECT_GE(kinds[3], 1) << "the start routine passes a routine's address";
    EXPECT_EQ(kinds[4] + kinds[5] + kinds[6] + kinds[7], 0);
}

TEST_F(BuiltImage, DllTableLibraryTableAndConstants) {
    std::vector<Seg> chain = Chain(img_);
    uint32_t constData = chain[0].data;
    std::vector<std::pair<std::string, std::string>> expected = {
#define DLL_COMMAND(index, dll, function, thunk, argumentBytes) {dll, function},
#include "contract/dll_commands.def"
#undef DLL_COMMAND
    };
    std::set<uint32_t> offsets;
    for (uint32_t i = 0; i < kDllCommandCount; ++i) {
        uint32_t file = U32(img_, 0x58 + 4 * i), function = U32(img_, 0x58 + 4 * kDllCommandCount + 4 * i);
        EXPECT_EQ(TextAt(img_, constData + file), expected[i].first);
        EXPECT_EQ(TextAt(img_, constData + function), expected[i].second);
        offsets.insert(file);
        offsets.insert(function);
    }
    EXPECT_EQ(offsets.size(), 16u) << "each name stored once: 4 DLL names and 12 functions";

    // Five library rows of five fields, then an empty row, then the first segment header.
    size_t at = 0x58 + 8 * 14;
    std::vector<std::string> rows;
    while (img_[at] != 0) {
        rows.push_back(TextAt(img_, at));
        at += rows.back().size() + 1;
    }
    EXPECT_EQ(at + 1, chain[0].at);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].substr(0, 7), "rtcore\r");
    EXPECT_NE(rows[0].find("\r5\r7\r"), std::string::npos);
    for (const std::string &row : rows) {
        EXPECT_EQ(std::count(row.begin(), row.end(), '\r'), 4) << row;
        EXPECT_EQ(row.find('\r', row.find('\r') + 1) - row.find('\r') - 1, 32u) << "a 32-digit identifier";
    }

    // The constants' table comes first: "\lsjl.ini", "url", the GBK section name, the empty text...
    EXPECT_EQ(TextAt(img_, constData), "\\lsjl.ini");
    EXPECT_EQ(TextAt(img_, constData + 0x0A), "url");
    EXPECT_EQ(TextAt(img_, constData + 0x0E), K_HistorySection);
    EXPECT_EQ(img_[constData + 0x17], 0);
    EXPECT_EQ(TextAt(img_, constData + 0x18), "|");
    EXPECT_EQ(U32(img_, constData + 0x1A), 1u);
    EXPECT_EQ(U32(img_, constData + 0x1E), 0u);
}

TEST_F(BuiltImage, StubsEndTheCodeInSlotOrderAndReloc1ReadsByCounts) {
    std::vector<Seg> chain = Chain(img_);
    const Seg &code = chain[3];
    uint32_t stubs = code.data + code.stored - 12 * 11;
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(img_[stubs + 11 * i], 0x44) << "stub " << i;
        EXPECT_EQ(U32(img_, stubs + 11 * i + 4), kStubSlots[i]) << "stub " << i;
    }
    uint32_t start = U32(img_, 0x3C);
    EXPECT_LT(code.data + start, stubs) << "the start routine stands before the stubs";
    EXPECT_EQ(U32(img_, code.data + start), 0x08EC8348u) << "and begins by aligning the stack (sub $8, %rsp)";

    const Seg &reloc1 = chain[5];
    size_t at = reloc1.data;
    uint32_t counts[4];
    for (int g = 0; g < 4; ++g) {
        counts[g] = U32(img_, at);
        at += 4 + 4 * counts[g];
    }
    EXPECT_EQ(at - reloc1.data, reloc1.stored + 4) << "the stated size is four bytes short of the groups";
    EXPECT_EQ(at, img_.size()) << "the groups end the image";
    EXPECT_GE(counts[0], 1u) << "the start routine names the main window";
    EXPECT_EQ(counts[1], kDllCommandCount) << "one site per DLL command thunk";
}

TEST_F(BuiltImage, ValidatesAndRelocationsInAnyOrderGiveTheSameCode) {
    image::Validation valid = image::ValidateImage(img_);
    ASSERT_TRUE(valid.image) << rt::DescribeFindings("problems", valid.problems);
    const image::Layout &layout = valid.image->layout();
    const uint32_t bases[4] = {0x10000000, 0x20000000, 0x30000000, 0x40000000};
    std::vector<uint8_t> a = img_, b = img_;
    std::vector<uint32_t> entries(layout.codeRelocs);
    std::memcpy(entries.data(), b.data() + layout.codeHeader + 56, 4 * entries.size());
    std::shuffle(entries.begin(), entries.end(), std::mt19937(1));
    std::memcpy(b.data() + layout.codeHeader + 56, entries.data(), 4 * entries.size());
    valid.image->ApplyRelocations(a.data(), bases);
    image::Validation shuffled = image::ValidateImage(b);
    ASSERT_TRUE(shuffled.image);
    shuffled.image->ApplyRelocations(b.data(), bases);
    EXPECT_TRUE(std::equal(a.begin() + layout.codeData, a.begin() + layout.codeData + layout.codeSize,
                           b.begin() + layout.codeData));
    // A kind-0 entry turns a slot offset into the slot's address.
    uint32_t stubs = layout.codeData + layout.codeSize - 12 * 11;
    EXPECT_EQ(U32(a, stubs + 4), 0x10000024u);
    EXPECT_EQ(U32(a, stubs + 9 * 11 + 4), 0x10000004u);
}

TEST_F(BuiltImage, MalformedImagesAreRefusedWithEveryProblemNamed) {
    image::Validation valid = image::ValidateImage(img_);
    ASSERT_TRUE(valid.image);
    const image::Layout layout = valid.image->layout();
    auto problems = [](const std::vector<uint8_t> &bytes) { return rt::Codes(image::ValidateImage(bytes).problems); };
    using P = image::Problem;
    for (size_t n : {size_t(0), size_t(0x30), size_t(0x90), size_t(layout.constData), size_t(layout.codeData + 10),
                     img_.size() - 5, img_.size() - 1})
        EXPECT_FALSE(problems(std::vector<uint8_t>(img_.begin(), img_.begin() + std::ptrdiff_t(n))).empty())
            << "cut at " << n;

    std::vector<Seg> chain = Chain(img_);
    std::vector<uint8_t> loop = img_;
    Put(loop, chain[2].at + 4, chain[0].at);
    EXPECT_EQ(problems(loop).at(0), P::ChainLoops);

    std::vector<uint8_t> outside = img_;
    Put(outside, chain[1].at + 44, 0x7FFFFFF0);
    EXPECT_EQ(problems(outside), std::vector<P>{P::DataOutside});

    std::vector<uint8_t> kind = img_;
    Put(kind, layout.codeHeader + 56, (U32(kind, layout.codeHeader + 56) & ~7u) | 5);
    EXPECT_EQ(problems(kind), std::vector<P>{P::UnknownRelocationKind});

    std::vector<uint8_t> far = img_;
    Put(far, layout.codeHeader + 60, (layout.codeSize - 2) << 3 | 1);
    EXPECT_EQ(problems(far), std::vector<P>{P::RelocationOutsideCode}) << "a relocation without 4 bytes to spare";

    std::vector<uint8_t> start = img_;
    Put(start, 0x3C, layout.codeSize);
    EXPECT_EQ(problems(start), std::vector<P>{P::StartOutsideCode});

    std::vector<uint8_t> group = img_;
    Put(group, layout.reloc1Data, 0x40000000);
    EXPECT_EQ(problems(group), std::vector<P>{P::FixupGroupOutside}) << "a fixup count past the image";

    std::vector<uint8_t> flagsChanged = img_;
    Put(flagsChanged, chain[3].at + 8, 1);
    EXPECT_EQ(problems(flagsChanged), std::vector<P>{P::WrongFlags});

    auto refused = rt::PrepareImage(loop.data(), loop.size(), rt::platform::FindDllFunction);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, rt::LoadError::InvalidImage);
}

TEST_F(BuiltImage, TheStartRoutineShowsTheWindowRunsEventsAndEndsWithZero) {
    std::vector<uint8_t> copy = img_; // heap memory: the loader runs a low copy
    auto loaded = rt::PrepareImage(copy.data(), copy.size(), rt::platform::FindDllFunction);
    ASSERT_TRUE(loaded) << rt::Describe(loaded.error());
    rt::PreparedImage prepared = *loaded;
    EXPECT_LT(reinterpret_cast<uintptr_t>(prepared.code), uintptr_t(1) << 31);
    EXPECT_EXIT(
        {
            rt::Runtime::Instance().SetFrontEnd(std::make_unique<rt::testing::StartReportingFrontEnd>());
            prepared.start();
        },
        ::testing::ExitedWithCode(0), "ShowWindow 0x52010001\nRunEvents\n");
}

// The 32-bit Windows program's image: the same layout from the same sources, with the i386 code's
// six-byte stubs and every address it holds relocated.
TEST(BuiltImage32, SameLayoutSixByteStubsAndEveryRelocationInsideItsSegment) {
    std::vector<uint8_t> img = ReadAll(PROGRAM_IMAGE_I386);
    if (img.empty()) GTEST_SKIP() << "no 32-bit image: the compiler cannot target i386";
    EXPECT_EQ(U32(img, 0x34), 0x0001014Fu);
    EXPECT_EQ(U32(img, 0x38), kDllCommandCount);
    std::vector<Seg> chain = Chain(img);
    ASSERT_EQ(chain.size(), 6u);
    const char *names[] = {"const", "form", "help", "code", "var", "@reloc1"};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(chain[i].name, names[i]);
    ASSERT_TRUE(image::ValidateImage(img).image) << "the loader's validator takes it";

    const Seg &code = chain[3];
    uint32_t stubs = code.data + code.stored - 12 * 6;
    std::set<uint32_t> stubOperands;
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(img[stubs + 6 * i], 0xFF) << "stub " << i << ": jmp dword [slot]";
        EXPECT_EQ(img[stubs + 6 * i + 1], 0x25) << "stub " << i;
        EXPECT_EQ(U32(img, stubs + 6 * i + 2), kStubSlots[i]) << "stub " << i;
        stubOperands.insert(stubs + 6 * i + 2 - code.data);
    }
    // Each entry's site holds an offset inside the segment of its kind; kind 0 only at the stubs.
    const uint32_t limits[4] = {0x31, chain[0].stored, chain[4].memory, code.stored};
    std::set<uint32_t> serviceSites;
    for (uint32_t k = 0; k < code.relocs; ++k) {
        uint32_t entry = U32(img, code.at + 56 + 4 * k), site = entry >> 3, kind = entry & 7;
        ASSERT_LT(kind, 4u);
        ASSERT_LE(site + 4, code.stored);
        EXPECT_LT(U32(img, code.data + site), limits[kind]) << "kind " << kind << " at " << site;
        if (kind == 0) serviceSites.insert(site);
    }
    EXPECT_EQ(serviceSites, stubOperands);
    // The start routine: cld, fninit, then its arguments pushed (push 3 for the start routine).
    uint32_t start = code.data + U32(img, 0x3C);
    EXPECT_EQ(std::vector<uint8_t>(img.begin() + start, img.begin() + start + 3),
              (std::vector<uint8_t>{0xFC, 0xDB, 0xE3}));
    std::vector<uint8_t> routine(img.begin() + start, img.begin() + start + 40);
    const uint8_t pushThree[] = {0x6A, 3};
    EXPECT_NE(std::search(routine.begin(), routine.end(), std::begin(pushThree), std::end(pushThree)), routine.end());
}
