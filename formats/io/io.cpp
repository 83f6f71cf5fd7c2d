#include "io.h"

namespace rt::io {

std::string_view Describe(Error e) {
    switch (e) {
    case Error::Missing: return "the file does not exist";
    case Error::NotRegular: return "not a regular file";
    case Error::TooLarge: return "the file is larger than the program reads";
    case Error::ReadFailed: return "the file could not be read";
    case Error::WriteFailed: return "the file could not be written";
    }
    return "unknown problem";
}

std::string FolderOf(const std::string &path) {
    size_t slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? "." : slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string NameOf(const std::string &path) {
    size_t slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace rt::io
