// The form segment in the built image, read back by a decoder written here; and malformed
// segments, which the runtime's decoder refuses.
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "formats/form/form.h"
#include "runtime/core/runtime.h"
#include "formats/form/form_model.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Reader {
    const std::vector<uint8_t> &b;
    size_t at;
    uint32_t u32() {
        uint32_t v;
        std::memcpy(&v, &b.at(at + 3) - 3, 4);
        at += 4;
        return v;
    }
    uint8_t u8() { return b.at(at++); }
    std::string text() {
        std::string s(reinterpret_cast<const char *>(&b.at(at)));
        at += s.size() + 1;
        return s;
    }
    std::string counted() {
        uint32_t n = u32();
        std::string s(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n));
        at += n;
        return s;
    }
};

std::string Gbk(const char *utf8) { return rt::Utf8ToGbk(utf8); }

// The form data and the handler offsets of the built image, from its map.
class BuiltForm : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<uint8_t> image = ReadAll(PROGRAM_IMAGE);
        uint32_t header;
        std::memcpy(&header, image.data() + 0x44, 4);
        uint32_t size, data;
        std::memcpy(&size, image.data() + header + 40, 4);
        std::memcpy(&data, image.data() + header + 44, 4);
        form_.assign(image.begin() + data, image.begin() + data + size);
        std::ifstream map(PROGRAM_MAP);
        std::string segment, offset, symbol;
        while (map >> segment >> offset >> symbol)
            if (segment == "code") code_[symbol] = uint32_t(std::stoul(offset, nullptr, 16));
    }
    std::vector<uint8_t> form_;
    std::map<std::string, uint32_t> code_;
};

} // namespace

TEST_F(BuiltForm, HeaderUnitOrderAndOffsets) {
    Reader r{form_, 0};
    EXPECT_EQ(r.u32(), 8u);
    EXPECT_EQ(r.u32(), 0x52010001u);
    for (uint32_t w : {0x0274B960u, 0u, 0x19010009u, 0u, 0u}) EXPECT_EQ(r.u32(), w);
    ASSERT_EQ(r.u32(), 23u);
    EXPECT_EQ(r.u32(), form_.size() - 36) << "the byte length of all that follows";
    const uint32_t order[] = {0x06010000, 0x1601014d, 0x1601014c, 0x16010147, 0x16010145, 0x1601013b,
                              0x160100e0, 0x160100df, 0x1601002f, 0x1601002e, 0x1601002d, 0x16010028,
                              0x1601002b, 0x1601002c, 0x16010010, 0x1601000f, 0x1601000e, 0x16010008,
                              0x16010007, 0x26010003, 0x26010004, 0x26010005, 0x26010006};
    for (uint32_t id : order) EXPECT_EQ(r.u32(), id);
    size_t unitsStart = r.at + 23 * 4;
    uint32_t expected = 0;
    for (int i = 0; i < 23; ++i) {
        uint32_t offset = r.u32();
        EXPECT_EQ(offset, expected) << "unit " << i;
        Reader len{form_, unitsStart + offset};
        expected = offset + 4 + len.u32();
    }
    EXPECT_EQ(unitsStart + expected, form_.size());
}

TEST_F(BuiltForm, UnitsCarryTheirFieldsAndTheImagesHandlerOffsets) {
    auto decoded = rt::form::DecodeForm(form_);
    ASSERT_TRUE(decoded.form) << decoded.problems.front();
    const rt::form::Form &f = *decoded.form;
    ASSERT_EQ(f.controls.size(), 18u);

    // The list: 82 bytes of column entries; read here from the raw bytes.
    Reader walk{form_, 36 + 23 * 4};
    std::vector<uint32_t> offsets(23);
    for (auto &o : offsets) o = walk.u32();
    size_t units = 36 + 23 * 8;
    Reader list{form_, units + offsets[8] + 4};
    EXPECT_EQ(list.u32(), 0x00020004u);
    list.at += 20;
    EXPECT_EQ(list.text(), Gbk("超级列表框1"));
    EXPECT_EQ(list.text(), "");
    list.u32();
    EXPECT_EQ(list.u32(), 7u);
    EXPECT_EQ(list.u32(), 325u);
    EXPECT_EQ(list.u32(), 580u);
    EXPECT_EQ(list.u32(), 350u);
    list.u32();
    EXPECT_EQ(list.u32(), 0u) << "parent: the window";
    EXPECT_EQ(list.u32(), 0u) << "no children";
    EXPECT_EQ(list.u32(), 4u);
    EXPECT_EQ(list.u32(), 0u) << "default cursor";
    list.u32();
    list.u8();
    EXPECT_EQ(list.u32(), 5u);
    list.u32();
    EXPECT_EQ(list.u32(), 0u) << "no events";
    EXPECT_EQ(list.u32(), 82u) << "bytes of column entries";
    const char *captions[] = {"序号", "经过IP地址", "位置", "响应时间"};
    const uint32_t widths[] = {45, 110, 340, 70};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list.u8(), 0);
        EXPECT_EQ(int32_t(list.u32()), -1);
        EXPECT_EQ(list.u32(), 0u);
        EXPECT_EQ(list.u32(), widths[i]);
        EXPECT_EQ(list.text(), Gbk(captions[i]));
    }

    // The six bindings point at the image's routines.
    EXPECT_EQ(f.Handler(0x06010000, 0), code_.at("RtWindowHandler"));
    EXPECT_EQ(f.Handler(0x1601002e, 0), code_.at("StartClicked"));
    EXPECT_EQ(f.Handler(0x1601013b, 0), code_.at("ClearClicked"));
    EXPECT_EQ(f.Handler(0x16010147, -1), code_.at("PicturePressed"));
    ASSERT_EQ(f.menu.size(), 4u);
    EXPECT_EQ(f.menu[0].level, 0u);
    EXPECT_EQ(f.menu[0].handler, -1);
    EXPECT_EQ(f.menu[1].handler, int32_t(code_.at("AboutSelected")));
    EXPECT_EQ(f.menu[2].caption, "-");
    EXPECT_EQ(f.menu[2].handler, -1);
    EXPECT_EQ(f.menu[3].handler, int32_t(code_.at("ExitSelected")));
    int bound = 0;
    for (const auto &c : f.controls) bound += int(c.events.size());
    EXPECT_EQ(bound, 3) << "the combo, edit boxes, check box, labels, group boxes and list have none";

    // Group boxes, children, cursor, icons.
    EXPECT_EQ(f.Find(0x16010007)->children, (std::vector<uint32_t>{0x1601013b, 0x16010010, 0x1601000f, 0x1601000e, 0x16010008}));
    EXPECT_EQ(f.Find(0x16010028)->children.size(), 7u);
    EXPECT_EQ(f.Find(0x16010147)->cursor, 32649u);
    auto small = rt::form::DecodeIco(f.window.icon);
    auto large = rt::form::DecodeIco(f.Find(0x16010147)->icon);
    ASSERT_TRUE(small && large);
    EXPECT_EQ(small->width, 32u);
    EXPECT_EQ(large->width, 128u);
    for (uint32_t px : large->argb) {
        uint8_t r = uint8_t(px >> 16), g = uint8_t(px >> 8), b = uint8_t(px);
        ASSERT_TRUE(r == g && g == b) << "a greyscale emblem";
    }
    EXPECT_EQ(f.window.caption, Gbk("Toviq-路由追踪 https://toviq.example/"));
    EXPECT_EQ(f.Find(0x160100e0)->inputSetting, 7u);
    EXPECT_EQ(f.Find(0x16010010)->inputSetting, 0u);
}

TEST_F(BuiltForm, MalformedSegmentsAreRefusedWithTheirProblems) {
    ASSERT_TRUE(rt::form::DecodeForm(form_).form);
    for (size_t n = 0; n < form_.size(); n += (n < 400 ? 1 : 997)) {
        auto d = rt::form::DecodeForm(std::span<const uint8_t>(form_.data(), n));
        EXPECT_FALSE(d.form) << "cut at " << n;
        EXPECT_FALSE(d.problems.empty());
    }
    auto corrupt = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> b = form_;
        std::memcpy(b.data() + at, &value, 4);
        return rt::form::DecodeForm(b);
    };
    EXPECT_FALSE(corrupt(0, 9).form) << "header word";
    EXPECT_FALSE(corrupt(28, 100000).form) << "unit count";
    EXPECT_FALSE(corrupt(36 + 23 * 4 + 4, 0x7FFFFFF0).form) << "a unit offset outside the segment";
    size_t units = 36 + 23 * 8;
    uint32_t second;
    std::memcpy(&second, form_.data() + 36 + 23 * 4 + 4, 4);
    EXPECT_FALSE(corrupt(units + second + 4, 0x00010077).form) << "an unknown unit type";
    EXPECT_FALSE(corrupt(36 + 4, 0x06010000).form) << "two window units";
    EXPECT_FALSE(rt::form::DecodeForm(form_, 16).form) << "handlers beyond the code";
}
