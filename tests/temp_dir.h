// A temporary directory for one test, removed with everything in it, and the small file helpers
// the tests share.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace rt::testing {

class TempDir {
  public:
    TempDir() {
#ifdef _WIN32
        std::random_device random;
        do path_ = std::filesystem::temp_directory_path() / ("rttest." + std::to_string(random()));
        while (!std::filesystem::create_directory(path_));
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "rttest.XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
#endif
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path &path() const { return path_; }
    std::string file(const std::string &name) const { return (path_ / name).string(); }

    void write(const std::string &name, const std::string &bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }
    std::string read(const std::string &name) const {
        std::ifstream in(file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool exists(const std::string &name) const { return std::filesystem::exists(path_ / name); }

  private:
    std::filesystem::path path_;
};

// A whole file's bytes; empty when it cannot be read.
inline std::vector<uint8_t> ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The bytes of a text.
inline std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

} // namespace rt::testing
