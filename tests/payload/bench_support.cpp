#include "bench_support.h"

#include "payload/archive_format.h"
#include "payload/extractor.h"
#include "payload/memstream.h"

#include <boost/crc.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace io = boost::iostreams;

namespace bench_support {

namespace {

constexpr std::uint64_t file_size = 25ull << 20;

void fill(std::string& block, std::uint64_t& state)
{
    static const char* words[] = {"Quillmar ", "document ", "layout ", "halden ", "voss ", "page ",
                                  "margin ", "font ", "0x3F2A ", "\r\n", "table ", "index "};
    block.clear();
    while (block.size() < 65536) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        block += words[state % std::size(words)];
        if (state % 7 == 0)
            block += static_cast<char>('A' + state % 26);
    }
}

std::vector<archive_entry> plan(std::uint64_t megabytes)
{
    std::vector<archive_entry> entries;
    const std::uint64_t files = (megabytes * (1ull << 20) + file_size - 1) / file_size;
    for (std::uint64_t i = 0; i < files; ++i) {
        const std::string number = std::to_string(1000 + i).substr(1);
        const auto name = u"data" + std::u16string(number.begin(), number.end()) + u".bin";
        entries.push_back({u"bench\\" + name, u"<InstallPath>\\Data", 0, file_size, 0});
    }
    return entries;
}

}

double now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

payload_source::payload_source(std::filesystem::path source) : source_(std::move(source))
{
    if (source_.extension() != L".exe")
        return;
    installer_ = LoadLibraryExW(source_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (installer_)
        resource_ = payload_resource(installer_);
    if (resource_.empty())
        throw std::runtime_error("no payload resource in " + source_.string());
}

payload_source::~payload_source()
{
    if (installer_)
        FreeLibrary(installer_);
}

std::unique_ptr<std::istream> payload_source::open() const
{
    if (installer_)
        return std::make_unique<hv::imemstream>(resource_.data(), resource_.size());
    return std::make_unique<std::ifstream>(source_, std::ios::binary);
}

bool generate(const std::filesystem::path& archive, std::uint64_t megabytes)
{
    auto entries = plan(megabytes);
    std::string block;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::uint64_t state = 0x9E3779B97F4A7C15ull + i;
        boost::crc_32_type crc;
        for (std::uint64_t left = entries[i].size; left > 0;) {
            fill(block, state);
            const auto take = std::min<std::uint64_t>(left, block.size());
            crc.process_bytes(block.data(), take);
            left -= take;
        }
        entries[i].crc32 = crc.checksum();
    }
    std::ofstream file(archive, std::ios::binary | std::ios::trunc);
    io::filtering_ostream out;
    out.push(io::bzip2_compressor(io::bzip2_params(9)));
    out.push(file);
    const std::string header = encode_archive_header(entries);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::uint64_t state = 0x9E3779B97F4A7C15ull + i;
        for (std::uint64_t left = entries[i].size; left > 0;) {
            fill(block, state);
            const auto take = std::min<std::uint64_t>(left, block.size());
            out.write(block.data(), static_cast<std::streamsize>(take));
            left -= take;
        }
    }
    out.reset();
    return file.good();
}

}
