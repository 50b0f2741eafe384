#include "generated_payload.h"

#include "payload/archive_format.h"

#include <boost/crc.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <fstream>
#include <string>
#include <vector>

namespace io = boost::iostreams;

namespace generated_payload {

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
