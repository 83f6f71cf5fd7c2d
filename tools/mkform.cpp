// mkform SMALL_ICON LARGE_ICON OUT_FORM OUT_HANDLERS
// Encodes the main window's description (product/main_window_form.cpp) into the form segment's bytes,
// and lists the places that receive handler offsets ("OFFSET SYMBOL" lines) for the image builder.
#include <cstdio>
#include <fstream>

#include "formats/form/form.h"
#include "formats/io/io.h"
#include "product/main_window_form.h"

namespace {

std::optional<std::vector<uint8_t>> ReadIcon(const char *path) {
    auto bytes = rt::io::ReadFile(path, 1 << 20);
    if (!bytes) {
        std::fprintf(stderr, "mkform: %s: %s\n", path, std::string(rt::io::Describe(bytes.error())).c_str());
        return std::nullopt;
    }
    return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: mkform SMALL_ICON LARGE_ICON OUT_FORM OUT_HANDLERS\n");
        return 2;
    }
    auto small = ReadIcon(argv[1]), large = ReadIcon(argv[2]);
    if (!small || !large) return 1;
    form::Encoded encoded = form::EncodeForm(product::MainWindow(std::move(*small), std::move(*large)));
    std::ofstream out(argv[3], std::ios::binary);
    out.write(reinterpret_cast<const char *>(encoded.bytes.data()), std::streamsize(encoded.bytes.size()));
    std::ofstream handlers(argv[4]);
    for (const form::HandlerSite &site : encoded.handlerSites) handlers << site.offset << " " << site.symbol << "\n";
    return out && handlers ? 0 : 1;
}
