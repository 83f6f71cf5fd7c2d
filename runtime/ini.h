// INI files with the semantics of Windows private profile files, bytes kept as they are (GBK).
//
// Why not a library: the common INI libraries convert encodings, merge duplicate sections or rewrite
// the whole file in their own layout. A profile file must keep every other line, comment and key
// exactly as it was, compare names without regard to ASCII case (but never fold GBK trail bytes) and
// read a missing file, section or key as the empty text. That is a small reader, written here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

class IniDocument {
  public:
    // Any bytes parse: lines end at LF (a CR before it is dropped); "[name]" opens a section,
    // "key=value" is an item, anything else (comments, junk) is kept and ignored.
    static IniDocument Parse(std::string_view bytes);

    // The value of the first such key in the first such section: blanks around it removed and one
    // pair of enclosing quotes dropped. Nothing when the section or key is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Replaces the key's value in place, or adds the key at the end of its section, or adds the
    // section at the end of the file. Line breaks inside the value would split the item, so CR and
    // LF in it become spaces.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The file's bytes: every line as it was, with the line break style the file used (CRLF for a new one).
    std::string Serialize() const;

  private:
    struct Line {
        std::string text;
    };
    // Index of the line of that section's header, or npos.
    size_t FindSection(std::string_view section) const;
    // Index of the first line after the section's last item line.
    size_t SectionEnd(size_t header) const;

    std::vector<Line> lines_;
    std::string newline_ = "\r\n";
    bool finalNewline_ = true;
};

// Reads key from section of the file at path; missing file, section or key give the empty text.
std::string ReadProfileString(const std::string &path, std::string_view section, std::string_view key);
// Writes the key, creating the file and section when missing; false when the file cannot be written.
// The file is replaced as a whole through a temporary file, so a failed write loses nothing.
bool WriteProfileString(const std::string &path, std::string_view section, std::string_view key,
                        std::string_view value);

} // namespace rt
