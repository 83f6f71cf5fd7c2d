// mkemblem SIZE OUT.ico|OUT.png
// mkemblem SIZE,SIZE,... OUT.ico
// Draws the program's emblem, a greyscale disk with a route of hops running across it to a
// target, at SIZE x SIZE pixels with an alpha channel, and writes it as an ICO file (the window's
// icons; with several sizes, the Windows program's icon) or a PNG file (the desktop's icons of an
// installed copy). In an ICO file a 256-pixel image is stored as PNG, as Windows' own icons do.
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
    if (r < 0.47) c = Over(c, {0.93, 1});              // the disk
    if (r >= 0.41 && r < 0.47) c = Over(c, {0.30, 1}); // its rim
    for (int i = 0; i + 1 < 5; ++i)                    // the route between the hops
        if (SegmentDistance(x, y, hops[i][0], hops[i][1], hops[i + 1][0], hops[i + 1][1]) < 0.022)
            c = Over(c, {0.45, 1});
    for (int i = 0; i < 4; ++i) // the hops
        if (std::hypot(x - hops[i][0], y - hops[i][1]) < 0.050) c = Over(c, {0.20, 1});
    double t = std::hypot(x - hops[4][0], y - hops[4][1]); // the target: a ring around a dot
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

// A greyscale-and-alpha PNG (or, for an icon's image, RGBA, which every icon reader takes) from BGRA
// pixels stored bottom row first.
std::vector<uint8_t> Png(int size, const std::vector<uint8_t> &bgraBottomUp, bool rgba = false) {
    std::vector<uint8_t> raw;
    for (int row = size - 1; row >= 0; --row) {
        raw.push_back(0); // no filter
        for (int col = 0; col < size; ++col) {
            const uint8_t *p = &bgraBottomUp[(size_t(row) * size + col) * 4];
            raw.push_back(p[0]);
            if (rgba) raw.insert(raw.end(), {p[0], p[0]});
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
    header.insert(header.end(), {8, uint8_t(rgba ? 6 : 4), 0, 0, 0}); // 8 bits, RGBA or greyscale with alpha
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", packed);
    Chunk(png, "IEND", {});
    return png;
}

// The emblem's pixels at SIZE x SIZE: BGRA, bottom row first, as a BMP stores them.
std::vector<uint8_t> Draw(int size) {
    constexpr int kSamples = 4; // per axis, for smooth edges
    std::vector<uint8_t> pixels;
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
    return pixels;
}

// One icon image: a BMP without its file header (the height counts the colour and the mask rows),
// or for 256 pixels in an icon of several sizes a PNG.
std::vector<uint8_t> IconImage(int size, bool png) {
    std::vector<uint8_t> pixels = Draw(size);
    if (png) return Png(size, pixels, true);
    uint32_t maskRow = uint32_t((size + 31) / 32 * 4);
    std::vector<uint8_t> image;
    Put32(image, 40); // BITMAPINFOHEADER
    Put32(image, uint32_t(size));
    Put32(image, uint32_t(size * 2));
    Put16(image, 1);
    Put16(image, 32);
    Put32(image, 0);
    Put32(image, uint32_t(pixels.size()));
    for (int i = 0; i < 4; ++i) Put32(image, 0);
    image.insert(image.end(), pixels.begin(), pixels.end());
    image.insert(image.end(), size_t(maskRow) * size, 0); // the alpha channel decides; the mask shows all
    return image;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkemblem SIZE OUT.ico|OUT.png\n       mkemblem SIZE,SIZE,... OUT.ico\n");
        return 2;
    }
    std::vector<int> sizes;
    for (const char *p = argv[1]; *p;) {
        char *end = nullptr;
        long size = std::strtol(p, &end, 10);
        if (end == p || size < 8 || size > 256 || (*end && *end != ',')) return 2;
        sizes.push_back(int(size));
        p = *end ? end + 1 : end;
    }
    if (sizes.empty()) return 2;
    std::string name = argv[2];
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) {
        if (sizes.size() != 1) return 2;
        std::vector<uint8_t> png = Png(sizes[0], Draw(sizes[0]));
        std::ofstream out(name, std::ios::binary);
        out.write(reinterpret_cast<const char *>(png.data()), std::streamsize(png.size()));
        return out ? 0 : 1;
    }
    std::vector<std::vector<uint8_t>> images;
    for (int size : sizes) images.push_back(IconImage(size, size == 256 && sizes.size() > 1));
    std::vector<uint8_t> ico;
    Put16(ico, 0); // ICONDIR: reserved, type 1 (icon), the number of images
    Put16(ico, 1);
    Put16(ico, uint16_t(images.size()));
    uint32_t at = uint32_t(6 + 16 * images.size()); // the images follow the directory
    for (size_t i = 0; i < images.size(); ++i) {
        ico.push_back(uint8_t(sizes[i] == 256 ? 0 : sizes[i])); // ICONDIRENTRY
        ico.push_back(uint8_t(sizes[i] == 256 ? 0 : sizes[i]));
        ico.push_back(0);
        ico.push_back(0);
        Put16(ico, 1);  // planes
        Put16(ico, 32); // bits per pixel
        Put32(ico, uint32_t(images[i].size()));
        Put32(ico, at);
        at += uint32_t(images[i].size());
    }
    for (const auto &image : images) ico.insert(ico.end(), image.begin(), image.end());
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char *>(ico.data()), std::streamsize(ico.size()));
    return out ? 0 : 1;
}
