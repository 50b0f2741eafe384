// image_maker DESCRIPTION OUTPUT_FOLDER
//
// Draws 24-bit pictures from a line-based description and writes each as a
// Windows bitmap (.bmp) or an icon (.ico). Shapes are painted in order with
// 4 x 4 supersampling, so edges blend smoothly at small sizes.
//
// Beside each file it writes its packed form, NAME.packed (side-125.bmp.packed),
// which the installer carries instead: the unpacked length (4 bytes, little
// endian), then one bzip2 stream of what a resource of that kind holds. For a
// bitmap that is the file without its 14-byte file header; for an icon, the
// group directory (entries of 14 bytes naming the images 1, 2, ...) followed
// by the images in that order.
//
//   scales PERCENT ...                       the scales of the pictures that follow
//                                            (default 100): an icon holds one image
//                                            per scale, a bitmap NAME.bmp is written
//                                            once per scale, as NAME-PERCENT.bmp
//                                            beside 100
//   image bitmap|icon NAME WIDTH HEIGHT     starts a picture, filled white
//   fill COLOUR
//   vgradient TOP BOTTOM                     vertical colour ramp
//   hbands [WEIGHT:]COLOUR ...               horizontal stripes, top to bottom
//   vbands [WEIGHT:]COLOUR ...               vertical stripes, left to right
//   rect X Y W H COLOUR [ALPHA]
//   disc CX CY R COLOUR [ALPHA]
//   ring CX CY R WIDTH COLOUR [ALPHA]
//   line X0 Y0 X1 Y1 WIDTH COLOUR [ALPHA]    a thick segment with square ends
//   star CX CY R COLOUR [ALPHA]              five points, one pointing left
//
// Coordinates are pixels at 100 % (fractions allowed), colours RRGGBB,
// alpha 0..1; at another scale every shape is drawn anew at that size, so it
// stays sharp.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <bzlib.h>

namespace {

struct colour {
    double r, g, b;
};

struct picture {
    std::string kind;
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<colour> pixels;
    double scale = 1; // pixels per unit of the description

    colour& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

colour parse_colour(const std::string& text)
{
    if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::runtime_error("bad colour '" + text + "'");
    const unsigned long v = std::stoul(text, nullptr, 16);
    return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}

// Paints `c` with `alpha` wherever `inside` holds, weighted by the share of
// sub-samples inside each pixel.
void paint(picture& p, const std::function<bool(double, double)>& inside, colour c, double alpha)
{
    constexpr int n = 4;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            int hits = 0;
            for (int sy = 0; sy < n; ++sy)
                for (int sx = 0; sx < n; ++sx)
                    hits += inside((x + (sx + 0.5) / n) / p.scale, (y + (sy + 0.5) / n) / p.scale);
            const double a = alpha * hits / (n * n);
            if (a <= 0)
                continue;
            colour& d = p.at(x, y);
            d = {d.r + (c.r - d.r) * a, d.g + (c.g - d.g) * a, d.b + (c.b - d.b) * a};
        }
}

void bands(picture& p, const std::vector<std::string>& args, bool horizontal)
{
    std::vector<std::pair<double, colour>> parts;
    double total = 0;
    for (const auto& a : args) {
        const auto colon = a.find(':');
        const double weight = colon == std::string::npos ? 1.0 : std::stod(a.substr(0, colon));
        parts.emplace_back(weight, parse_colour(colon == std::string::npos ? a : a.substr(colon + 1)));
        total += weight;
    }
    const double extent = (horizontal ? p.height : p.width) / p.scale;
    double start = 0;
    for (const auto& [weight, c] : parts) {
        const double end = start + weight / total * extent;
        paint(p, [&, start, end](double x, double y) {
            const double v = horizontal ? y : x;
            return v >= start && v < end;
        }, c, 1.0);
        start = end;
    }
}

bool in_star(double x, double y, double cx, double cy, double r)
{
    // Ray casting against the ten corners of a five-pointed star.
    std::array<std::pair<double, double>, 10> corners;
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 10; ++i) {
        const double radius = i % 2 ? r * 0.382 : r;
        const double angle = pi + i * pi / 5;
        corners[i] = {cx + radius * std::cos(angle), cy + radius * std::sin(angle)};
    }
    bool inside = false;
    for (std::size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
        const auto [xi, yi] = corners[i];
        const auto [xj, yj] = corners[j];
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
            inside = !inside;
    }
    return inside;
}

double number(const std::vector<std::string>& args, std::size_t i)
{
    if (i >= args.size())
        throw std::runtime_error("missing argument");
    return std::stod(args[i]);
}

double optional_alpha(const std::vector<std::string>& args, std::size_t i)
{
    return i < args.size() ? std::stod(args[i]) : 1.0;
}

void draw(picture& p, const std::string& op, const std::vector<std::string>& a)
{
    if (op == "fill") {
        const colour c = parse_colour(a.at(0));
        std::fill(p.pixels.begin(), p.pixels.end(), c);
    }
    else if (op == "vgradient") {
        const colour top = parse_colour(a.at(0)), bottom = parse_colour(a.at(1));
        for (int y = 0; y < p.height; ++y) {
            const double t = p.height > 1 ? double(y) / (p.height - 1) : 0;
            for (int x = 0; x < p.width; ++x)
                p.at(x, y) = {top.r + (bottom.r - top.r) * t, top.g + (bottom.g - top.g) * t,
                              top.b + (bottom.b - top.b) * t};
        }
    }
    else if (op == "hbands" || op == "vbands")
        bands(p, a, op == "hbands");
    else if (op == "rect") {
        const double x = number(a, 0), y = number(a, 1), w = number(a, 2), h = number(a, 3);
        paint(p, [=](double px, double py) { return px >= x && px < x + w && py >= y && py < y + h; },
              parse_colour(a.at(4)), optional_alpha(a, 5));
    }
    else if (op == "disc") {
        const double cx = number(a, 0), cy = number(a, 1), r = number(a, 2);
        paint(p, [=](double x, double y) { return std::hypot(x - cx, y - cy) <= r; },
              parse_colour(a.at(3)), optional_alpha(a, 4));
    }
    else if (op == "ring") {
        const double cx = number(a, 0), cy = number(a, 1), r = number(a, 2), w = number(a, 3);
        paint(p, [=](double x, double y) {
            const double d = std::hypot(x - cx, y - cy);
            return d <= r && d >= r - w;
        }, parse_colour(a.at(4)), optional_alpha(a, 5));
    }
    else if (op == "line") {
        const double x0 = number(a, 0), y0 = number(a, 1), x1 = number(a, 2), y1 = number(a, 3);
        const double half = number(a, 4) / 2;
        const double length = std::hypot(x1 - x0, y1 - y0);
        if (length == 0)
            throw std::runtime_error("line of length 0");
        const double ux = (x1 - x0) / length, uy = (y1 - y0) / length;
        paint(p, [=](double x, double y) {
            const double along = (x - x0) * ux + (y - y0) * uy;
            const double across = -(x - x0) * uy + (y - y0) * ux;
            return along >= -half && along <= length + half && std::abs(across) <= half;
        }, parse_colour(a.at(5)), optional_alpha(a, 6));
    }
    else if (op == "star") {
        const double cx = number(a, 0), cy = number(a, 1), r = number(a, 2);
        paint(p, [=](double x, double y) { return in_star(x, y, cx, cy, r); }, parse_colour(a.at(3)),
              optional_alpha(a, 4));
    }
    else
        throw std::runtime_error("unknown drawing step '" + op + "'");
}

std::uint8_t channel(double v)
{
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

void put16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// BITMAPINFOHEADER and bottom-up 24-bit rows; an icon's header counts the
// colour rows and the mask rows together, and a 1-bit mask (all opaque) follows.
std::vector<std::uint8_t> dib(picture& p, bool icon)
{
    const std::uint32_t row = (p.width * 3 + 3) & ~3u;
    const std::uint32_t mask_row = ((p.width + 31) / 32) * 4;
    std::vector<std::uint8_t> out;
    put32(out, 40);
    put32(out, p.width);
    put32(out, icon ? p.height * 2 : p.height);
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, row * p.height + (icon ? mask_row * p.height : 0));
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int y = p.height - 1; y >= 0; --y) {
        for (int x = 0; x < p.width; ++x) {
            const colour& c = p.at(x, y);
            out.push_back(channel(c.b));
            out.push_back(channel(c.g));
            out.push_back(channel(c.r));
        }
        out.resize(out.size() + row - p.width * 3, 0);
    }
    if (icon)
        out.resize(out.size() + mask_row * p.height, 0);
    return out;
}

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    const auto partial = path.string() + ".partial";
    {
        std::ofstream file(partial, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file)
            throw std::runtime_error("cannot write " + partial);
    }
    std::filesystem::rename(partial, path);
}

// The packed form of a picture's bytes (see the top of the file). bzip2's
// block size is the smallest that holds them, so the installer's decoder
// allocates no more than it needs.
std::vector<std::uint8_t> packed(const std::vector<std::uint8_t>& bytes)
{
    const int block_size = static_cast<int>(std::min<std::size_t>(9, bytes.size() / 100000 + 1));
    auto length = static_cast<unsigned>(bytes.size() + bytes.size() / 100 + 600);
    std::vector<std::uint8_t> out;
    put32(out, static_cast<std::uint32_t>(bytes.size()));
    out.resize(4 + length);
    const int result = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data() + 4), &length,
                                                const_cast<char*>(reinterpret_cast<const char*>(bytes.data())),
                                                static_cast<unsigned>(bytes.size()), block_size, 0, 0);
    if (result != BZ_OK)
        throw std::runtime_error("bzip2 compression failed (" + std::to_string(result) + ")");
    out.resize(4 + length);
    return out;
}

void write_with_packed(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                       const std::vector<std::uint8_t>& resource)
{
    write_file(path, bytes);
    write_file(path.string() + ".packed", packed(resource));
}

// A picture as described at 100 %: its drawing steps, replayed at each scale.
struct description {
    std::string kind;
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<int> percents;
    std::vector<std::pair<std::string, std::vector<std::string>>> steps;
};

picture drawn(const description& d, int percent)
{
    picture p{d.kind, d.name, static_cast<int>(std::lround(d.width * percent / 100.0)),
              static_cast<int>(std::lround(d.height * percent / 100.0)), {}, percent / 100.0};
    if (p.kind == "icon" && (p.width > 255 || p.height > 255))
        throw std::runtime_error("an icon image larger than 255 pixels");
    p.pixels.assign(static_cast<std::size_t>(p.width) * p.height, {1, 1, 1});
    for (const auto& [op, args] : d.steps)
        draw(p, op, args);
    return p;
}

void write(const description& d, const std::filesystem::path& folder)
{
    if (d.kind == "bitmap") {
        const std::filesystem::path name(d.name);
        for (int percent : d.percents) {
            picture p = drawn(d, percent);
            const std::vector<std::uint8_t> body = dib(p, false);
            std::vector<std::uint8_t> bytes{'B', 'M'};
            put32(bytes, static_cast<std::uint32_t>(14 + body.size()));
            put32(bytes, 0);
            put32(bytes, 14 + 40);
            bytes.insert(bytes.end(), body.begin(), body.end());
            write_with_packed(folder / (percent == 100 ? d.name
                                                       : name.stem().string() + "-" + std::to_string(percent)
                                                             + name.extension().string()),
                              bytes, body);
        }
        return;
    }
    // The directory, one entry per scale, then the images: in the file each
    // entry ends with the image's offset, in the resource with its number.
    std::vector<picture> pictures;
    std::vector<std::vector<std::uint8_t>> images;
    for (int percent : d.percents) {
        pictures.push_back(drawn(d, percent));
        images.push_back(dib(pictures.back(), true));
    }
    std::vector<std::uint8_t> bytes, resource;
    for (auto* out : {&bytes, &resource}) {
        put16(*out, 0);
        put16(*out, 1); // icon
        put16(*out, static_cast<unsigned>(images.size()));
    }
    auto offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        for (auto* out : {&bytes, &resource}) {
            out->push_back(static_cast<std::uint8_t>(pictures[i].width));
            out->push_back(static_cast<std::uint8_t>(pictures[i].height));
            out->push_back(0);
            out->push_back(0);
            put16(*out, 1);
            put16(*out, 24);
            put32(*out, static_cast<std::uint32_t>(images[i].size()));
        }
        put32(bytes, offset);
        put16(resource, static_cast<unsigned>(i + 1));
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const auto& image : images) {
        bytes.insert(bytes.end(), image.begin(), image.end());
        resource.insert(resource.end(), image.begin(), image.end());
    }
    write_with_packed(folder / d.name, bytes, resource);
}

}

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: image_maker DESCRIPTION OUTPUT_FOLDER\n";
        return 2;
    }
    std::ifstream file(argv[1]);
    if (!file) {
        std::cerr << "image_maker: cannot read " << argv[1] << "\n";
        return 1;
    }
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);

    description current;
    std::vector<int> percents{100};
    int line_number = 0;
    std::string line;
    try {
        while (std::getline(file, line)) {
            ++line_number;
            if (const auto hash = line.find('#'); hash != std::string::npos)
                line.erase(hash);
            std::istringstream words(line);
            std::string op;
            if (!(words >> op))
                continue;
            std::vector<std::string> args;
            for (std::string w; words >> w;)
                args.push_back(w);
            if (op == "scales") {
                percents.clear();
                for (const std::string& a : args)
                    percents.push_back(std::stoi(a));
                if (percents.empty() || std::any_of(percents.begin(), percents.end(),
                                                    [](int percent) { return percent < 25 || percent > 800; }))
                    throw std::runtime_error("expected: scales PERCENT ... (25 to 800)");
            }
            else if (op == "image") {
                if (!current.name.empty())
                    write(current, folder);
                if (args.size() != 4 || (args[0] != "bitmap" && args[0] != "icon"))
                    throw std::runtime_error("expected: image bitmap|icon NAME WIDTH HEIGHT");
                current = description{args[0], args[1], std::stoi(args[2]), std::stoi(args[3]), percents, {}};
                if (current.width < 1 || current.height < 1 || current.width > 4096 || current.height > 4096)
                    throw std::runtime_error("bad picture size");
            }
            else if (current.name.empty())
                throw std::runtime_error("drawing before the first image line");
            else {
                // Drawn once at once, so a bad step is reported at its line.
                description check = current;
                check.percents = {100};
                check.steps = {{op, args}};
                drawn(check, 100);
                current.steps.emplace_back(op, args);
            }
        }
        if (!current.name.empty())
            write(current, folder);
    }
    catch (const std::exception& e) {
        std::cerr << argv[1] << ":" << line_number << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
