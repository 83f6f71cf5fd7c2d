// The form segment in the built image, read back by a decoder written here; and malformed
// segments, which the runtime's decoder refuses.
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "formats/form/form.h"
#include "product/main_window_form.h"
#include "runtime/core/runtime.h"
#include "temp_dir.h"

using namespace unit_id;
using rt::testing::ReadAll;

namespace {

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
    EXPECT_EQ(r.u32(), form_layout::kHeaderWord);
    EXPECT_EQ(r.u32(), Id_MainWindow);
    for (uint32_t w : form_layout::kFixedWords) EXPECT_EQ(r.u32(), w);
    ASSERT_EQ(r.u32(), 23u);
    EXPECT_EQ(r.u32(), form_.size() - form_layout::kHeaderSize) << "the byte length of all that follows";
    const uint32_t order[] = {Id_WindowUnit,
                              Id_Label7,
                              Id_Label6,
                              Id_Picture,
                              Id_Label5,
                              Id_ClearButton,
                              Id_PacketSizeBox,
                              Id_PacketCountBox,
                              Id_ResultList,
                              Id_StartButton,
                              Id_CheckBox,
                              Id_GroupBox2,
                              Id_Label4,
                              Id_Label3,
                              Id_AddressBox,
                              Id_TargetBox,
                              Id_Label2,
                              Id_Label1,
                              Id_GroupBox1,
                              product::kMenuAbout,
                              product::kMenuAboutItem,
                              product::kMenuSeparator,
                              product::kMenuExit};
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
    auto decoded = form::DecodeForm(form_);
    ASSERT_TRUE(decoded.form) << rt::DescribeFindings("problems", decoded.problems);
    const form::Form &f = *decoded.form;
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
    EXPECT_EQ(f.Handler(Id_WindowUnit, form::kEventCreated), code_.at("RtWindowHandler"));
    EXPECT_EQ(f.Handler(Id_StartButton, form::kEventClicked), code_.at("StartClicked"));
    EXPECT_EQ(f.Handler(Id_ClearButton, form::kEventClicked), code_.at("ClearClicked"));
    EXPECT_EQ(f.Handler(Id_Picture, form::kEventMousePressed), code_.at("PicturePressed"));
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
    EXPECT_EQ(f.Find(Id_GroupBox1)->children,
              (std::vector<uint32_t>{Id_ClearButton, Id_AddressBox, Id_TargetBox, Id_Label2, Id_Label1}));
    EXPECT_EQ(f.Find(Id_GroupBox2)->children.size(), 7u);
    EXPECT_EQ(f.Find(Id_Picture)->cursor, 32649u);
    auto small = form::DecodeIco(f.window.icon);
    auto large = form::DecodeIco(f.Find(Id_Picture)->icon);
    ASSERT_TRUE(small && large);
    EXPECT_EQ(small->width, 32u);
    EXPECT_EQ(large->width, 128u);
    for (uint32_t px : large->argb) {
        uint8_t r = uint8_t(px >> 16), g = uint8_t(px >> 8), b = uint8_t(px);
        ASSERT_TRUE(r == g && g == b) << "a greyscale emblem";
    }
    EXPECT_EQ(f.window.caption, Gbk("Toviq-路由追踪 https://toviq.example/"));
    EXPECT_EQ(f.Find(Id_PacketSizeBox)->inputSetting, 7u);
    EXPECT_EQ(f.Find(Id_AddressBox)->inputSetting, 0u);
}

TEST_F(BuiltForm, MalformedSegmentsAreRefusedWithTheirProblems) {
    using P = form::Problem;
    ASSERT_TRUE(form::DecodeForm(form_).form);
    for (size_t n = 0; n < form_.size(); n += (n < 400 ? 1 : 997)) {
        auto d = form::DecodeForm(std::span<const uint8_t>(form_.data(), n));
        EXPECT_FALSE(d.form) << "cut at " << n;
        EXPECT_FALSE(d.problems.empty());
    }
    auto corrupt = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> b = form_;
        std::memcpy(b.data() + at, &value, 4);
        return rt::Codes(form::DecodeForm(b).problems);
    };
    const size_t header = form_layout::kHeaderSize, units = header + 23 * 8;
    uint32_t second;
    std::memcpy(&second, form_.data() + header + 23 * 4 + 4, 4);
    const struct {
        const char *what;
        size_t at;
        uint32_t value;
        std::vector<P> problems;
    } cases[] = {
        {"header word", 0, 9, {P::HeaderWord}},
        {"unit count", 28, 100000, {P::TooManyUnits}},
        // The second unit is a child of a group box, which then lists a child it does not have.
        {"a unit offset outside the segment", header + 23 * 4 + 4, 0x7FFFFFF0, {P::UnitOutside, P::ChildNotOwned}},
        {"an unknown unit type", units + second + 4, 0x00010077, {P::UnknownType, P::ChildNotOwned}},
        {"an identifier given twice", header + 4, Id_WindowUnit, {P::UnitTwice, P::ChildNotOwned}},
    };
    for (const auto &c : cases) EXPECT_EQ(corrupt(c.at, c.value), c.problems) << c.what;
    EXPECT_EQ(rt::Codes(form::DecodeForm(form_, 16).problems).at(0), P::HandlerOutside) << "handlers beyond the code";
}

TEST_F(BuiltForm, OneCodecBothWays) {
    // The image's segment decoded and encoded again gives its bytes back.
    form::Decoded decoded = form::DecodeForm(form_);
    ASSERT_TRUE(decoded.form);
    EXPECT_EQ(form::EncodeForm(*decoded.form).bytes, form_);
    // The description encoded and decoded is the description, with handler offsets for its symbols.
    std::ifstream small(EMBLEM_SMALL, std::ios::binary), large(EMBLEM_LARGE, std::ios::binary);
    form::Form description =
        product::MainWindow({std::istreambuf_iterator<char>(small), {}}, {std::istreambuf_iterator<char>(large), {}});
    form::Encoded encoded = form::EncodeForm(description);
    EXPECT_EQ(encoded.handlerSites.size(), 6u);
    form::Decoded back = form::DecodeForm(encoded.bytes);
    ASSERT_TRUE(back.form);
    auto unname = [](form::Control &c) {
        for (form::Event &e : c.events) e.symbol.clear();
    };
    unname(description.window);
    for (form::Control &c : description.controls) unname(c);
    for (form::MenuItem &m : description.menu) {
        if (!m.symbol.empty()) m.handler = 0;
        m.symbol.clear();
    }
    EXPECT_EQ(*back.form, description);
}
