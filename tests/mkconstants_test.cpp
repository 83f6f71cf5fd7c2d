// The const segment's table and its tool: a table that does not hold together is refused, saying
// where and why, with nothing written; and what the build made is what the table makes, down to
// the bytes at the start of both images' const segments.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "formats/image/image_view.h"
#include "temp_dir.h"
#include "tools/mkconstants/constants_table.h"

using rt::testing::ReadAll;
using rt::testing::TempDir;

namespace {

std::string Text(const std::string &path) {
    std::vector<uint8_t> bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

// The table with its first `from` replaced by `to`.
std::string Edited(std::string table, const std::string &from, const std::string &to) {
    size_t at = table.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) table.replace(at, from.size(), to);
    return table;
}

// Runs the tool; its exit code and what it said.
std::pair<int, std::string> RunTool(const TempDir &dir, const std::string &table) {
    dir.write("constants.table", table);
    std::string command = std::string(MKCONSTANTS) + " " + dir.file("constants.table") + " " + dir.file("constants.S") +
                          " " + dir.file("constants.h") + " 2>&1";
    FILE *out = ::popen(command.c_str(), "r");
    std::string said;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out)) said += buffer;
    int status = ::pclose(out);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

} // namespace

TEST(ConstantsTable, ATableThatDoesNotHoldTogetherIsRefusedWithNothingWritten) {
    const std::string table = Text(CONSTANTS_TABLE);
    struct Case {
        const char *what;
        std::string edited;
        const char *message;
    } cases[] = {
        {"an offset one byte off", Edited(table, "0x0A8  K_SocketFailed", "0x0A9  K_SocketFailed"),
         "K_SocketFailed starts at 0x0A8, the table says 0x0A9"},
        {"an end where the constants do not end", Edited(table, "0x19D  end", "0x19C  end"),
         "the constants end at 0x19D, the table says 0x19C"},
        {"a text GBK cannot hold", Edited(table, "\"url\"", "\"url\xE2\x98\x83\""),
         "K_HistoryKey: \"url\xE2\x98\x83\" has a character GBK cannot hold"},
        {"a description whose backslash would join the next line to its comment",
         Edited(table, "-- history key", "-- history key\\"),
         "K_HistoryKey: a description does not end with a backslash"},
        {"a name given twice", Edited(table, "K_HistoryKey  ", "K_HistoryFile "),
         "K_HistoryFile is named twice (first on line"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto parsed = rt::constants::ParseTable(c.edited);
        EXPECT_NE(parsed.error.find(c.message), std::string::npos) << parsed.error;
        EXPECT_TRUE(parsed.error.starts_with("line ")) << parsed.error;
        TempDir dir;
        auto [code, said] = RunTool(dir, c.edited);
        EXPECT_EQ(code, 1);
        EXPECT_NE(said.find(c.message), std::string::npos) << said;
        EXPECT_FALSE(std::filesystem::exists(dir.file("constants.S")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("constants.h")));
    }
}

TEST(ConstantsTable, TheBuiltFilesAndBothImagesHoldWhatTheTableMakes) {
    auto parsed = rt::constants::ParseTable(Text(CONSTANTS_TABLE));
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(Text(CONSTANTS_ASSEMBLY), rt::constants::AssemblySource(parsed.table, "app/constants.table"));
    EXPECT_EQ(Text(CONSTANTS_HEADER), rt::constants::HeaderSource(parsed.table, "app/constants.table"));
    const std::vector<uint8_t> segment = rt::constants::SegmentBytes(parsed.table);
    ASSERT_EQ(segment.size(), parsed.table.end);
    for (const char *path : {PROGRAM_IMAGE, PROGRAM_IMAGE_I386}) {
        SCOPED_TRACE(path);
        if (!std::filesystem::exists(path)) continue; // no i386 compiler: no 32-bit image
        std::vector<uint8_t> bytes = ReadAll(path);
        image::Validation valid = image::ValidateImage(bytes);
        ASSERT_TRUE(valid.image);
        const image::Layout &layout = valid.image->layout();
        ASSERT_GE(layout.constSize, segment.size());
        std::vector<uint8_t> held(bytes.begin() + layout.constData, bytes.begin() + layout.constData + segment.size());
        EXPECT_EQ(held, segment);
    }
}
