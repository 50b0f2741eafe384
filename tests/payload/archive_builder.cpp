#include "archive_builder.h"

#include <windows.h>

#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <atomic>
#include <fstream>
#include <sstream>

namespace io = boost::iostreams;
namespace fs = std::filesystem;

namespace payload_test {

std::vector<archive_entry> entries_of(const std::vector<stored_file>& files)
{
    std::vector<archive_entry> entries;
    for (const auto& f : files)
        entries.push_back({f.source, f.destination, static_cast<std::uint32_t>(f.kind), f.data.size(),
                           archive_crc32(f.data)});
    return entries;
}

std::string archive_of(const std::vector<archive_entry>& entries, const std::vector<stored_file>& files)
{
    std::string archive = encode_archive_header(entries);
    for (const auto& f : files)
        archive += f.data;
    return archive;
}

std::string archive_of(const std::vector<stored_file>& files)
{
    return archive_of(entries_of(files), files);
}

std::string bzip2(std::string_view data)
{
    std::ostringstream compressed;
    {
        io::filtering_ostream out;
        out.push(io::bzip2_compressor(io::bzip2_params(9)));
        out.push(compressed);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    return compressed.str();
}

scratch_folder::scratch_folder()
{
    static std::atomic<int> counter;
    path_ = fs::temp_directory_path()
            / (L"hv-payload-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

scratch_folder::~scratch_folder()
{
    std::error_code error;
    // Files written by the tests may have been made read-only.
    for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::end(it); it.increment(error))
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path_, error);
}

folder_lookup fake_folders(const fs::path& root, std::vector<int> missing)
{
    return [root, missing](int csidl) -> std::wstring {
        for (int m : missing)
            if (m == csidl)
                return {};
        return (root / (L"csidl-" + std::to_wstring(csidl))).native();
    };
}

std::string read_file(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

void write_file(const fs::path& file, std::string_view data)
{
    std::ofstream out(file, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

notification_callback recorder::callback()
{
    return [this](notification n) {
        std::visit(
            [this](const auto& e) {
                using event = std::decay_t<decltype(e)>;
                if constexpr (std::is_same_v<event, notification::started>)
                    lines.push_back("started");
                else if constexpr (std::is_same_v<event, notification::finished>)
                    lines.push_back("finished " + std::to_string(e.archive_size));
                else if constexpr (std::is_same_v<event, notification::file_begin>)
                    lines.push_back("file_begin " + narrow(e.entry.destination.filename().native()));
                else if constexpr (std::is_same_v<event, notification::file_end>)
                    lines.push_back("file_end " + narrow(e.entry.destination.filename().native()));
                else if constexpr (std::is_same_v<event, notification::progress>)
                    lines.push_back("progress " + std::to_string(e.position) + "/" + std::to_string(e.archive_size));
                else
                    lines.push_back("failed " + std::string(e.code.category().name()) + " "
                                    + std::to_string(e.code.value()) + " " + narrow(e.message));
            },
            n.event);
        return answer ? answer(n) : notification::result::proceed;
    };
}

}
