// Extraction benchmark (a program, not a test): generates a payload archive
// of at least 200 MB in a child process, then extracts it with
// extract_payload and prints the throughput and the peak working set next to
// a plain bzip2 decompression of the same stream in this process.
//
//   bench_payload_extract [MEGABYTES] [FOLDER] [ARCHIVE]
//
// With ARCHIVE (made by `--generate ARCHIVE MEGABYTES`) that archive is
// extracted instead of a new one; it is left in place.
#include "payload/extractor.h"

#include "bench_support.h"

#include <windows.h>
#include <psapi.h>

#include <boost/crc.hpp>
#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/device/null.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace io = boost::iostreams;

namespace {

double seconds_since(LARGE_INTEGER start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double megabytes(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / (1 << 20);
}

PROCESS_MEMORY_COUNTERS memory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

bool run_generator(const fs::path& archive, std::uint64_t size_mb)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --generate \"" + archive.native() + L"\" "
                           + std::to_wstring(size_mb);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return code == 0;
}

}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && std::wstring(argv[1]) == L"--generate")
        return bench_support::generate(argv[2], std::stoull(argv[3])) ? 0 : 1;

    const std::uint64_t size_mb = argc > 1 ? std::stoull(argv[1]) : 200;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / L"hv-payload-benchmark";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path archive = argc > 3 ? fs::path(argv[3]) : folder / L"payload.bz2";

    if (argc <= 3)
        std::printf("generating a %llu MB payload in a child process...\n", static_cast<unsigned long long>(size_mb));
    if (argc <= 3 && !run_generator(archive, size_mb)) {
        std::printf("generating the payload failed\n");
        return 1;
    }
    const auto compressed = fs::file_size(archive);
    const auto before = memory();

    // Plain decompression of the same stream, output discarded.
    LARGE_INTEGER start;
    double plain = 0;
    {
        std::ifstream in(archive, std::ios::binary);
        QueryPerformanceCounter(&start);
        io::filtering_ostream out;
        out.push(io::bzip2_decompressor(false, 4096));
        out.push(io::null_sink());
        io::copy(in, out, 4096);
        plain = seconds_since(start);
    }

    std::uint64_t archive_size = 0;
    bool succeeded = false;
    double extraction = 0;
    {
        std::ifstream in(archive, std::ios::binary);
        QueryPerformanceCounter(&start);
        succeeded = extract_payload(in, (folder / L"install").native(), L"", L"", [&](notification n) {
            if (const auto* done = std::get_if<notification::finished>(&n.event))
                archive_size = done->archive_size;
            if (const auto* failed = std::get_if<notification::failed>(&n.event))
                std::printf("failed: %s\n", failed->code.message().c_str());
            return notification::result::proceed;
        });
        extraction = seconds_since(start);
    }
    const auto after = memory();

    std::printf("archive: %.1f MB in %.1f MB of bzip2 data, extraction %s\n", megabytes(archive_size),
                megabytes(compressed), succeeded ? "succeeded" : "FAILED");
    std::printf("plain bzip2 decompression: %.2f s, %.1f MB/s\n", plain, megabytes(archive_size) / plain);
    std::printf("extract_payload (write + CRC read-back): %.2f s, %.1f MB/s\n", extraction,
                megabytes(archive_size) / extraction);
    std::printf("extraction time / plain decompression time: %.2f\n", extraction / plain);
    std::printf("working set before: %.1f MB, peak: %.1f MB\n", megabytes(before.WorkingSetSize),
                megabytes(after.PeakWorkingSetSize));

    fs::remove_all(folder);
    return succeeded ? 0 : 1;
}
