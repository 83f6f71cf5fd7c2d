// mkemblem SIZE OUT.ico|OUT.png
// Draws the program's emblem, a greyscale disk with a route of hops running across it to a
// target, at SIZE x SIZE pixels with an alpha channel, and writes it as a one-image ICO file (the
// window's icons) or a PNG file (the desktop's icons of an installed copy).
// This file is the emblem's source: the window icon (32) and the picture (128) are drawn from it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

struct Rgba {
    double grey, alpha;
};

// Paints `top` over `bottom`.
Rgba Over(Rgba bottom, Rgba top) {
    double a = top.alpha + bottom.alpha * (1 - top.alpha);
    if (a <= 0) return {0, 0};
    return {(top.grey * top.alpha + bottom.grey * bottom.alpha * (1 - top.alpha)) / a, a};
}

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    double dx = bx - ax, dy = by - ay;
    double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// The emblem at a point of the unit square (y down).
Rgba Emblem(double x, double y) {
    const double hops[][2] = {{0.22, 0.72}, {0.37, 0.52}, {0.53, 0.60}, {0.66, 0.38}, {0.78, 0.25}};
    Rgba c{0, 0};
    double r = std::hypot(x - 0.5, y - 0.5);
    if (r < 0.47) c = Over(c, {0.93, 1});                  // the disk
    if (r >= 0.41 && r < 0.47) c = Over(c, {0.30, 1});     // its rim
    for (int i = 0; i + 1 < 5; ++i)                         // the route between the hops
        if (SegmentDistance(x, y, hops[i][0], hops[i][1], hops[i + 1][0], hops[i + 1][1]) < 0.022) c = Over(c, {0.45, 1});
    for (int i = 0; i < 4; ++i)                             // the hops
        if (std::hypot(x - hops[i][0], y - hops[i][1]) < 0.050) c = Over(c, {0.20, 1});
    double t = std::hypot(x - hops[4][0], y - hops[4][1]);  // the target: a ring around a dot
    if (t < 0.095) c = Over(c, {0.10, 1});
    if (t < 0.060) c = Over(c, {0.93, 1});
    if (t < 0.035) c = Over(c, {0.10, 1});
    return c;
}

void Put32(std::vector<uint8_t> &b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put16(std::vector<uint8_t> &b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void PutBig32(std::vector<uint8_t> &b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}

// One PNG chunk: length, type, data, and the CRC of type and data.
void Chunk(std::vector<uint8_t> &png, const char *type, const std::vector<uint8_t> &data) {
    PutBig32(png, uint32_t(data.size()));
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBig32(png, uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
}

// A greyscale-and-alpha PNG from BGRA pixels stored bottom row first.
std::vector<uint8_t> Png(int size, const std::vector<uint8_t> &bgraBottomUp) {
    std::vector<uint8_t> raw;
    for (int row = size - 1; row >= 0; --row) {
        raw.push_back(0); // no filter
        for (int col = 0; col < size; ++col) {
            const uint8_t *p = &bgraBottomUp[(size_t(row) * size + col) * 4];
            raw.push_back(p[0]);
            raw.push_back(p[3]);
        }
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 9);
    packed.resize(packedSize);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    PutBig32(header, uint32_t(size));
    PutBig32(header, uint32_t(size));
    header.insert(header.end(), {8, 4, 0, 0, 0}); // 8 bits, greyscale with alpha
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", packed);
    Chunk(png, "IEND", {});
    return png;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkemblem SIZE OUT.ico|OUT.png\n");
        return 2;
    }
    int size = std::atoi(argv[1]);
    if (size < 8 || size > 256) return 2;
    constexpr int kSamples = 4; // per axis, for smooth edges
    std::vector<uint8_t> pixels; // BGRA, bottom row first, as a BMP stores them
    for (int row = size - 1; row >= 0; --row)
        for (int col = 0; col < size; ++col) {
            double grey = 0, alpha = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    Rgba c = Emblem((col + (sx + 0.5) / kSamples) / size, (row + (sy + 0.5) / kSamples) / size);
                    grey += c.grey * c.alpha;
                    alpha += c.alpha;
                }
            uint8_t g = uint8_t(std::lround(alpha > 0 ? 255 * grey / alpha : 0));
            uint8_t a = uint8_t(std::lround(255 * alpha / (kSamples * kSamples)));
            pixels.insert(pixels.end(), {g, g, g, a});
        }
    std::string name = argv[2];
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) {
        std::vector<uint8_t> png = Png(size, pixels);
        std::ofstream out(name, std::ios::binary);
        out.write(reinterpret_cast<const char *>(png.data()), std::streamsize(png.size()));
        return out ? 0 : 1;
    }
    uint32_t maskRow = uint32_t((size + 31) / 32 * 4);
    uint32_t imageBytes = 40 + uint32_t(pixels.size()) + maskRow * uint32_t(size);

    std::vector<uint8_t> ico;
    Put16(ico, 0); // ICONDIR: reserved, type 1 (icon), one image
    Put16(ico, 1);
    Put16(ico, 1);
    ico.push_back(uint8_t(size == 256 ? 0 : size)); // ICONDIRENTRY
    ico.push_back(uint8_t(size == 256 ? 0 : size));
    ico.push_back(0);
    ico.push_back(0);
    Put16(ico, 1);  // planes
    Put16(ico, 32); // bits per pixel
    Put32(ico, imageBytes);
    Put32(ico, 22); // the image follows the directory
    Put32(ico, 40); // BITMAPINFOHEADER; the height counts the colour and the mask rows
    Put32(ico, uint32_t(size));
    Put32(ico, uint32_t(size * 2));
    Put16(ico, 1);
    Put16(ico, 32);
    Put32(ico, 0);
    Put32(ico, uint32_t(pixels.size()));
    for (int i = 0; i < 4; ++i) Put32(ico, 0);
    ico.insert(ico.end(), pixels.begin(), pixels.end());
    ico.insert(ico.end(), size_t(maskRow) * size, 0); // the alpha channel decides; the mask shows all
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char *>(ico.data()), std::streamsize(ico.size()));
    return out ? 0 : 1;
}
