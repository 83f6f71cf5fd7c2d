// A folder of its own for build/routetrace in the end-to-end tests: the program copied in (so that
// lsjl.ini lands there), and a location database that names the whole test network one place.
#pragma once

#include <filesystem>
#include <string>

#include "qqwry_builder.h"
#include "temp_dir.h"

namespace rt::testing {

inline void InstallProgram(const TempDir &folder, const std::string &product, const std::string &country,
                           const std::string &area) {
    std::filesystem::copy_file(product, folder.path() / "routetrace");
    std::filesystem::permissions(folder.path() / "routetrace", std::filesystem::perms::owner_all);
    QqwryBuilder b;
    b.Index(QqwryBuilder::Ip("192.0.2.0"), b.Simple(QqwryBuilder::Ip("203.0.113.255"), country, area));
    folder.write("QQWry.dat", b.Finish());
}

} // namespace rt::testing
