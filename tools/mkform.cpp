// mkform SMALL_ICON LARGE_ICON OUT_FORM OUT_HANDLERS
// Encodes the main window's description (ui/main_window_form.cpp) into the form segment's bytes, and
// lists the places that receive handler offsets ("OFFSET SYMBOL" lines) for the image builder.
#include <cstdio>
#include <fstream>

#include "formats/form/form_encoder.h"

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: mkform SMALL_ICON LARGE_ICON OUT_FORM OUT_HANDLERS\n");
        return 2;
    }
    std::string error;
    auto encoded = form::Encode(form::MainWindow(argv[1], argv[2]), error);
    if (!encoded) {
        std::fprintf(stderr, "mkform: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(argv[3], std::ios::binary);
    out.write(reinterpret_cast<const char *>(encoded->bytes.data()), std::streamsize(encoded->bytes.size()));
    std::ofstream handlers(argv[4]);
    for (const auto &[offset, symbol] : encoded->handlerSites) handlers << offset << " " << symbol << "\n";
    return out && handlers ? 0 : 1;
}
