// The Windows backends of the file and text layer: code page 936 and the wide-character file calls.
#include <windows.h>

#include <gtest/gtest.h>

#include "formats/io/io.h"
#include "formats/text/text.h"
#include "formats/text/wide.h"
#include "temp_dir.h"

using rt::testing::TempDir;

namespace {

const char kZhongguoGbk[] = "\xD6\xD0\xB9\xFA"; // 中国
const char kZhongguoUtf8[] = "\xE4\xB8\xAD\xE5\x9B\xBD";

} // namespace

TEST(WindowsText, GbkConvertsThroughCodePage936WhateverTheLocale) {
    EXPECT_EQ(rt::GbkToUtf8(kZhongguoGbk), kZhongguoUtf8);
    EXPECT_EQ(rt::Utf8ToGbk(kZhongguoUtf8), kZhongguoGbk);
    EXPECT_EQ(rt::GbkToWide(kZhongguoGbk), L"\u4E2D\u56FD");
    EXPECT_EQ(rt::WideToGbk(L"\u4E2D\u56FD"), kZhongguoGbk);
    EXPECT_EQ(rt::Utf8ToGbkExact(kZhongguoUtf8), std::optional<std::string>(kZhongguoGbk));
    // A character GBK has no form for: '?' in a shown text, nothing where the exact form is asked for.
    EXPECT_EQ(rt::Utf8ToGbk("a\xF0\x9F\x98\x80"
                            "b"),
              "a??b")
        << "one emoji, two UTF-16 units";
    EXPECT_EQ(rt::Utf8ToGbkExact("\xF0\x9F\x98\x80"), std::nullopt);
    EXPECT_EQ(rt::Utf8ToGbkExact("\xFF"), std::nullopt) << "not UTF-8";
    EXPECT_EQ(rt::GbkToUtf8("x\xFF"), "x?") << "a byte that starts no character";
    EXPECT_EQ(rt::GbkToUtf8(""), "");
}

TEST(WindowsFiles, ReadsRegularFilesOnlyWithinTheCapAndReplacesAtomically) {
    TempDir dir;
    // A Chinese name: the wide calls find it whatever the system's code page.
    std::string name = rt::WideToUtf8(dir.path().wstring()) + "\\" + kZhongguoUtf8 + ".ini";
    ASSERT_TRUE(rt::io::WriteFileAtomic(name, std::string_view("first")));
    EXPECT_EQ(rt::io::ReadFile(name, 100).value(), "first");
    ASSERT_TRUE(rt::io::WriteFileAtomic(name, std::string_view("second, longer")));
    EXPECT_EQ(rt::io::ReadFile(name, 100).value(), "second, longer");
    EXPECT_EQ(rt::io::ReadFile(name, 5).error(), rt::io::Error::TooLarge);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file left";

    EXPECT_EQ(rt::io::ReadFile(dir.file("missing"), 100).error(), rt::io::Error::Missing);
    EXPECT_EQ(rt::io::ReadFile(dir.path().string(), 100).error(), rt::io::Error::NotRegular) << "a folder";
    EXPECT_EQ(rt::io::ReadFile("NUL", 100).error(), rt::io::Error::NotRegular) << "a device";
    EXPECT_FALSE(rt::io::WriteFileAtomic(dir.file("no folder") + "\\x", std::string_view("y")));
    EXPECT_EQ(rt::io::FolderOf("C:\\a\\b.ini"), "C:\\a");
    EXPECT_EQ(rt::io::NameOf("C:\\a/b.ini"), "b.ini");
}
