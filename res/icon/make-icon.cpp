// Draws the program's icon, the plot in small: red dots on one period of a sine over a green
// baseline, on black. Writes measure.ico (16, 32 and 48 pixels, 32-bit with alpha), a 48-pixel
// measure.png for the desktop's icon theme and measure.svg, into the folder given.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const double kPi = 3.14159265358979;
const int kDots = 9;

struct Rgba {
    uint8_t r, g, b, a;
};

// The drawing in a unit square (y down): the dots' centres, their radius, the baseline.
double dot_x(int i) { return 0.12 + 0.76 * i / (kDots - 1); }
double dot_y(int i) { return 0.5 - 0.32 * std::sin(2 * kPi * i / (kDots - 1)); }
const double kDotRadius = 0.075;
const double kBaseline = 0.035;  // half its thickness

// One pixel of a `size` image, 4 x 4 samples per pixel, so small sizes keep round dots.
Rgba pixel(int size, int px, int py) {
    double red = 0, green = 0;
    const int n = 4;
    for (int sy = 0; sy < n; ++sy) {
        for (int sx = 0; sx < n; ++sx) {
            double x = (px + (sx + 0.5) / n) / size;
            double y = (py + (sy + 0.5) / n) / size;
            bool on_dot = false;
            for (int i = 0; i < kDots && !on_dot; ++i)
                on_dot = std::hypot(x - dot_x(i), y - dot_y(i)) <= kDotRadius;
            if (on_dot)
                red += 1;
            else if (std::fabs(y - 0.5) <= kBaseline && x >= 0.06 && x <= 0.94)
                green += 1;
        }
    }
    red /= n * n;
    green /= n * n;
    return Rgba{uint8_t(std::lround(255 * red)), uint8_t(std::lround(200 * green)), 0, 255};
}

std::vector<Rgba> image(int size) {
    std::vector<Rgba> out;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) out.push_back(pixel(size, x, y));
    return out;
}

void put16(std::string* s, unsigned v) {
    *s += char(v & 0xFF);
    *s += char(v >> 8 & 0xFF);
}
void put32(std::string* s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}
void put32be(std::string* s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) *s += char(v >> shift & 0xFF);
}

// An icon image as Windows stores it: a BITMAPINFOHEADER of twice the height, the pixels
// bottom-up as BGRA, then a 1-bit AND mask (all zero: the alpha channel says it all).
std::string dib(int size) {
    std::string s;
    put32(&s, 40);
    put32(&s, size);
    put32(&s, 2 * size);
    put16(&s, 1);
    put16(&s, 32);
    put32(&s, 0);
    put32(&s, 0);
    put32(&s, 0);
    put32(&s, 0);
    put32(&s, 0);
    put32(&s, 0);
    std::vector<Rgba> px = image(size);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const Rgba& p = px[y * size + x];
            s += char(p.b);
            s += char(p.g);
            s += char(p.r);
            s += char(p.a);
        }
    }
    int mask_row = ((size + 31) / 32) * 4;
    s.append(size_t(mask_row) * size, '\0');
    return s;
}

std::string ico(const std::vector<int>& sizes) {
    std::string head, body;
    put16(&head, 0);
    put16(&head, 1);
    put16(&head, sizes.size());
    uint32_t offset = 6 + 16 * sizes.size();
    for (int size : sizes) {
        std::string d = dib(size);
        head += char(size);
        head += char(size);
        head += char(0);  // no palette
        head += char(0);
        put16(&head, 1);   // planes
        put16(&head, 32);  // bits per pixel
        put32(&head, d.size());
        put32(&head, offset);
        offset += d.size();
        body += d;
    }
    return head + body;
}

uint32_t crc32(const std::string& s) {
    uint32_t c = 0xFFFFFFFF;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320 & (0 - (c & 1)));
    }
    return ~c;
}

std::string chunk(const char* type, const std::string& data) {
    std::string s;
    put32be(&s, data.size());
    std::string body = std::string(type, 4) + data;
    s += body;
    put32be(&s, crc32(body));
    return s;
}

// A PNG of RGBA rows; the zlib stream holds stored (uncompressed) blocks, which every reader
// accepts and which keep this generator short.
std::string png(int size) {
    std::vector<Rgba> px = image(size);
    std::string raw;
    for (int y = 0; y < size; ++y) {
        raw += char(0);  // no filter
        for (int x = 0; x < size; ++x) {
            const Rgba& p = px[y * size + x];
            raw += char(p.r);
            raw += char(p.g);
            raw += char(p.b);
            raw += char(p.a);
        }
    }
    std::string z = "\x78\x01";
    for (size_t pos = 0; pos < raw.size(); pos += 65535) {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        z += char(pos + n == raw.size() ? 1 : 0);
        put16(&z, n);
        put16(&z, ~n & 0xFFFF);
        z += raw.substr(pos, n);
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32be(&z, b << 16 | a);
    std::string ihdr;
    put32be(&ihdr, size);
    put32be(&ihdr, size);
    ihdr += "\x08\x06";  // 8 bits per channel, RGBA
    ihdr += std::string(3, '\0');
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", z) +
           chunk("IEND", "");
}

std::string svg() {
    char line[160];
    std::string s =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
        "viewBox=\"0 0 1 1\">\n"
        "  <rect width=\"1\" height=\"1\" fill=\"#000000\"/>\n";
    std::snprintf(
        line, sizeof line,
        "  <rect x=\"0.06\" y=\"%.3f\" width=\"0.88\" height=\"%.3f\" fill=\"#00c800\"/>\n",
        0.5 - kBaseline, 2 * kBaseline);
    s += line;
    for (int i = 0; i < kDots; ++i) {
        std::snprintf(line, sizeof line,
                      "  <circle cx=\"%.4f\" cy=\"%.4f\" r=\"%.3f\" fill=\"#ff0000\"/>\n", dot_x(i),
                      dot_y(i), kDotRadius);
        s += line;
    }
    return s + "</svg>\n";
}

bool write(const std::string& path, const std::string& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    if (!write(dir + "/measure.ico", ico({16, 32, 48})) || !write(dir + "/measure.png", png(48)) ||
        !write(dir + "/measure.svg", svg())) {
        std::perror(dir.c_str());
        return 1;
    }
    return 0;
}
