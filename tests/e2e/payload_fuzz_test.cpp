// Copies of the real installer with damaged payloads, each driven through
// its wizard to the end of an installation: bit flips in the compressed
// stream, a shortened resource, and changed header fields inside a stream
// that is itself sound. Every copy must end with a clear failure or a whole
// installation, never crash or hang, and leave the machine as it was
// (apart from the installer's own temporary folder, which must be gone).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/device/back_inserter.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include "e2e/scenario.h"
#include "payload/archive_format.h"
#include "payload/extractor.h"

namespace {

using namespace e2e;

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

// Where the payload resource lies in the executable file: its data and the
// size field of its resource data entry.
struct payload_location {
    std::size_t data = 0;
    std::size_t size_field = 0;
    std::uint32_t size = 0;
    WORD language = 0;
};

payload_location locate_payload(const std::string& image)
{
    auto read = [&](std::size_t offset, auto& value) {
        if (offset + sizeof value > image.size())
            throw std::runtime_error("not a whole PE image");
        std::memcpy(&value, image.data() + offset, sizeof value);
    };
    IMAGE_DOS_HEADER dos{};
    read(0, dos);
    IMAGE_NT_HEADERS64 nt{};
    read(static_cast<std::size_t>(dos.e_lfanew), nt);
    const std::size_t sections = static_cast<std::size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                 nt.FileHeader.SizeOfOptionalHeader;
    auto file_offset = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section{};
            read(sections + i * sizeof section, section);
            const DWORD extent = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + extent)
                return section.PointerToRawData + (rva - section.VirtualAddress);
        }
        throw std::runtime_error("an address outside every section");
    };
    const std::size_t root = file_offset(nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress);
    // The entry with the id in the directory at `directory`, or the first
    // entry when id is 0.
    auto entry = [&](std::size_t directory, WORD id) {
        IMAGE_RESOURCE_DIRECTORY header{};
        read(directory, header);
        const int count = header.NumberOfNamedEntries + header.NumberOfIdEntries;
        for (int i = 0; i < count; ++i) {
            IMAGE_RESOURCE_DIRECTORY_ENTRY item{};
            read(directory + sizeof header + i * sizeof item, item);
            if (id == 0 || (!item.NameIsString && item.Id == id))
                return item;
        }
        throw std::runtime_error("no payload resource");
    };
    const auto type = entry(root, payload_resource_type);
    const auto name = entry(root + type.OffsetToDirectory, payload_resource_id);
    const auto language = entry(root + name.OffsetToDirectory, 0);
    payload_location found;
    IMAGE_RESOURCE_DATA_ENTRY data{};
    const std::size_t data_entry = root + language.OffsetToData;
    read(data_entry, data);
    found.data = file_offset(data.OffsetToData);
    found.size_field = data_entry + offsetof(IMAGE_RESOURCE_DATA_ENTRY, Size);
    found.size = data.Size;
    found.language = language.Id;
    return found;
}

std::string bzip2(const std::string& data, bool compress)
{
    namespace io = boost::iostreams;
    std::string out;
    io::filtering_ostream stream;
    if (compress)
        stream.push(io::bzip2_compressor(io::bzip2_params(9)));
    else
        stream.push(io::bzip2_decompressor());
    stream.push(io::back_inserter(out));
    stream.write(data.data(), static_cast<std::streamsize>(data.size()));
    stream.reset();
    return out;
}

template <class T>
void put(std::string& bytes, std::size_t offset, T value)
{
    for (unsigned i = 0; i < sizeof(T); ++i)
        bytes[offset + i] = static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i) & 0xFF);
}

// One damaged installer: either the resource bytes patched in place (and
// its size field), or a new resource written through the resource update
// functions.
struct mutation {
    std::string description;
    std::string resource;        // the new resource, when `in_place` is false
    bool in_place = true;
    std::vector<std::size_t> flipped_bits; // bit positions within the resource
    std::uint32_t size = 0;                // the resource size the installer sees
};

class mutator {
public:
    mutator(std::string compressed, unsigned seed) : compressed_(std::move(compressed)), random_(seed)
    {
        archive_ = bzip2(compressed_, false);
        header_size_ = decode_header_size(archive_);
        entries_ = decode_archive_header(std::string_view(archive_).substr(0, header_size_));
    }

    // Case 0 is no damage at all: the same archive compressed again and
    // written through the same resource update, which must install.
    mutation make(int index)
    {
        const std::uint32_t size = static_cast<std::uint32_t>(compressed_.size());
        if (index == 0) {
            const std::string again = bzip2(archive_, true);
            return {"the same archive compressed again", again, false, {}, static_cast<std::uint32_t>(again.size())};
        }
        switch (index % 5) {
        case 0:
        case 1: {
            mutation m{"bit flips at", {}, true, {}, size};
            const int flips = 1 + static_cast<int>(draw(3));
            for (int i = 0; i < flips; ++i) {
                m.flipped_bits.push_back(draw(std::uint64_t{size} * 8));
                m.description += " " + std::to_string(m.flipped_bits.back());
            }
            return m;
        }
        case 2: {
            // Short ones often: the stream's own header is in the first bytes.
            const std::uint32_t shorter = draw(4) == 0 ? static_cast<std::uint32_t>(draw(16))
                                                       : static_cast<std::uint32_t>(draw(size));
            return {"resource cut to " + std::to_string(shorter) + " bytes", {}, true, {}, shorter};
        }
        case 3:
            return header_change();
        default:
            if (draw(2) == 0)
                return header_change();
            std::string longer = compressed_;
            longer += draw(2) == 0 ? compressed_.substr(0, 64) : std::string(1 + draw(100), '\0');
            return {"bytes after the stream", longer, false, {}, static_cast<std::uint32_t>(longer.size())};
        }
    }

private:
    std::uint64_t draw(std::uint64_t below) { return std::uniform_int_distribution<std::uint64_t>(0, below - 1)(random_); }

    mutation header_change()
    {
        std::string header = archive_.substr(0, header_size_);
        std::string description;
        auto entries = entries_;
        archive_entry& entry = entries[draw(entries.size())];
        switch (draw(6)) {
        case 0: {
            const std::uint64_t sizes[] = {0, 11, 12, header_size_ - 1, header_size_ + 1, header_size_ + 4096,
                                           archive_max_header_size + 1, ~std::uint64_t{0}};
            const std::uint64_t value = sizes[draw(std::size(sizes))];
            put<std::uint64_t>(header, 0, value);
            description = "header size " + std::to_string(value);
            break;
        }
        case 1: {
            const std::uint32_t counts[] = {0, static_cast<std::uint32_t>(entries.size() - 1),
                                            static_cast<std::uint32_t>(entries.size() + 1), 0xFFFFFFFF};
            const std::uint32_t value = counts[draw(std::size(counts))];
            put<std::uint32_t>(header, 8, value);
            description = "entry count " + std::to_string(value);
            break;
        }
        case 2: {
            const std::uint64_t sizes[] = {0, entry.size - 1, entry.size + 1, std::uint64_t{1} << 40};
            entry.size = sizes[draw(std::size(sizes))];
            header = encode_archive_header(entries);
            description = "an entry's size " + std::to_string(entry.size);
            break;
        }
        case 3:
            entry.crc32 ^= 1u << draw(32);
            header = encode_archive_header(entries);
            description = "an entry's CRC-32";
            break;
        case 4: {
            const std::u16string destinations[] = {u"<Nowhere>\\Quillmar", u"<InstallPath>\\a:b", u"<InstallPath",
                                                   u"<InstallPath>\\" + std::u16string(300, u'x')};
            entry.destination = destinations[draw(std::size(destinations))];
            header = encode_archive_header(entries);
            description = "an entry's destination of " + std::to_string(entry.destination.size()) + " characters";
            break;
        }
        default:
            put<std::uint32_t>(header, 12, 0xFFFFFFFF - static_cast<std::uint32_t>(draw(4)));
            description = "a name's length field";
            break;
        }
        const std::string resource = bzip2(header + archive_.substr(header_size_), true);
        return {"header: " + description, resource, false, {}, static_cast<std::uint32_t>(resource.size())};
    }

    std::string compressed_;
    std::string archive_;
    std::uint64_t header_size_ = 0;
    std::vector<archive_entry> entries_;
    std::mt19937_64 random_;
};

// Writes the damaged installer to `program` from the pristine image.
void write_installer(const fs::path& program, const std::string& image, const payload_location& where,
                     const mutation& m)
{
    if (m.in_place) {
        std::string bytes = image;
        for (const std::size_t bit : m.flipped_bits)
            bytes[where.data + bit / 8] = static_cast<char>(bytes[where.data + bit / 8] ^ (1 << (bit % 8)));
        put<std::uint32_t>(bytes, where.size_field, m.size);
        write_file(program, bytes);
        return;
    }
    write_file(program, image);
    HANDLE update = BeginUpdateResourceW(program.c_str(), FALSE);
    if (!update)
        throw std::runtime_error("BeginUpdateResource failed: " + std::to_string(GetLastError()));
    const bool updated =
        UpdateResourceW(update, MAKEINTRESOURCEW(payload_resource_type), MAKEINTRESOURCEW(payload_resource_id),
                        where.language, const_cast<char*>(m.resource.data()),
                        static_cast<DWORD>(m.resource.size())) != FALSE;
    if (!EndUpdateResourceW(update, !updated) || !updated)
        throw std::runtime_error("UpdateResource failed: " + std::to_string(GetLastError()));
}

int setting(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

class payload_fuzz : public scenario {};

TEST_F(payload_fuzz, every_damaged_installer_ends_cleanly_and_leaves_nothing)
{
    use_folder(default_install_folder());
    const int cases = setting("HV_FUZZ_CASES", 200);
    const unsigned seed = static_cast<unsigned>(setting("HV_FUZZ_SEED", 20261210));
    const std::string image = read_file(test_support::build_file(L"src\\Quillmar3Setup.exe"));
    const payload_location where = locate_payload(image);
    const std::string compressed = image.substr(where.data, where.size);
    ASSERT_EQ(compressed, read_file(test_support::build_file(L"src\\resources\\payload.bz2")))
        << "the located resource is not the payload";
    mutator mutations(compressed, seed);

    const fs::path folder = fs::path(test_support::build_file(L"tests\\e2e")) /
                            (L"fuzz-" + std::to_wstring(GetCurrentProcessId()));
    fs::create_directories(folder);
    const fs::path program = folder / L"Quillmar3Setup.exe";
    // The installers start in a folder of their own, watched like the rest:
    // a destination whose placeholder is unknown is relative to it.
    const fs::path working = folder / L"working";
    fs::create_directories(working);
    const fs::path previous_working = fs::current_path();
    fs::current_path(working);
    const auto watched = [&] {
        fact_set all = picture();
        all.merge(capture({working.wstring()}, {}));
        return all;
    };
    before_ = watched();
    const std::wstring temp = fs::path(expand(L"%TEMP%")).wstring();
    int failed = 0;
    int completed = 0;
    for (int index = 0; index < cases; ++index) {
        const mutation m = mutations.make(index);
        const std::string where_from = "case " + std::to_string(index) + " (seed " + std::to_string(seed) +
                                       "): " + m.description;
        SCOPED_TRACE(where_from);
        bool ok = true;
        try {
            write_installer(program, image, where, m);
            wizard installer(program.wstring());
            installer.quick_to_install_page();
            const bool whole = installer.install(120s);
            const std::wstring status = installer.status();
            std::printf("%s -> %s\n", where_from.c_str(), to_utf8(status).c_str());
            if (index == 0) {
                EXPECT_TRUE(whole) << "the undamaged copy did not install: " << to_utf8(status);
            }
            if (whole) {
                ++completed;
                EXPECT_EQ(status, L"Click on 'Next' to continue.");
                EXPECT_EQ(installer.finish(), 0u);
            }
            else {
                ++failed;
                EXPECT_EQ(status.rfind(L"Installation failed (Error Code ", 0), 0u) << to_utf8(status);
                EXPECT_EQ(installer.leave(), 0u) << "the installer did not end normally";
            }
        }
        catch (const std::exception& error) {
            ok = false;
            ADD_FAILURE() << error.what();
        }
        // A completed installation is taken back by its own uninstaller.
        if (fs::is_regular_file(fs::path(install_folder_) / L"Uninstall.exe")) {
            EXPECT_EQ(uninstall(install_folder_), 0u);
        }
        for (const auto& change : changes(before_, watched(), left_on_purpose)) {
            // Other programs of the test run may use the temporary folder too;
            // only the installer's own folder there counts.
            if (change.find(temp) != std::wstring::npos && change.find(L"halden_{") == std::wstring::npos)
                continue;
            ok = false;
            ADD_FAILURE() << to_utf8(change);
        }
        if (!ok || HasFailure()) {
            remove_leftovers();
            break; // one case at a time: the rest would start from a changed machine
        }
    }
    fs::current_path(previous_working);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    std::printf("%d damaged installers: %d failed cleanly, %d installed and uninstalled\n", cases, failed, completed);
}

}
