#include "payload/extractor.h"

#include "archive_builder.h"
#include "payload/compress_error.h"

#include <windows.h>
#include <shlobj.h>

#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace fs = std::filesystem;
using namespace payload_test;
using result = notification::result;

namespace {

class Extraction : public testing::Test {
protected:
    scratch_folder scratch;
    recorder events;
    std::wstring install = scratch / L"install";

    bool extract(std::string_view compressed)
    {
        hv::imemstream in(compressed);
        return extract_payload(in, install, L"Examples", scratch / L"temp", events.callback(),
                               fake_folders(scratch.path() / L"shell"));
    }

    payload_extractor extractor()
    {
        return payload_extractor(install, L"Examples", scratch / L"temp", events.callback(),
                                 fake_folders(scratch.path() / L"shell"));
    }

    // Hands the data over in pieces of at most `piece` bytes.
    static void feed(payload_extractor& x, std::string_view data, std::size_t piece)
    {
        while (!data.empty())
            data.remove_prefix(x.write(data.data(), std::min(piece, data.size())));
    }

    std::string installed(const std::wstring& relative) const { return read_file(fs::path(install) / relative); }

    std::string failed_line(compress_errc code, const std::wstring& message = L"") const
    {
        return "failed compress " + std::to_string(static_cast<int>(code)) + " " + narrow(message);
    }
};

const std::vector<stored_file> two_files = {
    {u"build\\a.txt", u"<InstallPath>", "alpha"},
    {u"build/b.bin", u"<InstallPath>\\Sub", std::string(10000, 'b') + "end"},
};

TEST_F(Extraction, ZeroEntries)
{
    EXPECT_TRUE(extract(bzip2(archive_of({}))));
    EXPECT_EQ(events.lines, (std::vector<std::string>{"started", "progress 12/12", "finished 12"}));
}

TEST_F(Extraction, NotificationsOfAWholeArchive)
{
    const std::string archive = archive_of(two_files);
    const auto h = archive_header_size(entries_of(two_files));
    const auto total = std::to_string(archive.size());
    EXPECT_TRUE(extract(bzip2(archive)));
    EXPECT_EQ(events.lines, (std::vector<std::string>{
                                "started",
                                "progress " + std::to_string(h) + "/" + total,
                                "file_begin a.txt",
                                "progress " + std::to_string(h + 5) + "/" + total,
                                "file_end a.txt",
                                "file_begin b.bin",
                                "progress 4096/" + total, // the decompressor hands over blocks of 4096 bytes
                                "progress 8192/" + total,
                                "progress " + total + "/" + total,
                                "file_end b.bin",
                                "finished " + total,
                            }));
    EXPECT_EQ(installed(L"a.txt"), "alpha");
    EXPECT_EQ(installed(L"Sub\\b.bin"), two_files[1].data);
}

TEST_F(Extraction, BlocksMayEndAnywhereInTheHeaderOrAFile)
{
    const std::string archive = archive_of(two_files);
    for (std::size_t piece : {1, 2, 3, 7, 13, 4095, 100000}) {
        events.lines.clear();
        auto x = extractor();
        feed(x, archive, piece);
        x.finish();
        EXPECT_EQ(x.position(), archive.size()) << piece;
        EXPECT_EQ(x.archive_size(), archive.size()) << piece;
        EXPECT_EQ(installed(L"a.txt"), "alpha") << piece;
        EXPECT_EQ(installed(L"Sub\\b.bin"), two_files[1].data) << piece;
        EXPECT_EQ(std::count(events.lines.begin(), events.lines.end(), "file_end b.bin"), 1) << piece;
    }
}

TEST_F(Extraction, ZeroLengthFileBeforeMoreData)
{
    const std::vector<stored_file> files = {{u"empty", u"<InstallPath>", ""}, {u"next", u"<InstallPath>", "xy"}};
    const std::string archive = archive_of(files);
    const auto h = archive_header_size(entries_of(files));
    auto x = extractor();
    feed(x, archive.substr(0, h), 1000);
    events.lines.clear();
    EXPECT_EQ(x.write(archive.data() + h, 2), 0u) << "the empty file consumes nothing";
    const auto at = "progress " + std::to_string(h) + "/" + std::to_string(h + 2);
    EXPECT_EQ(events.lines, (std::vector<std::string>{"file_begin empty", at, "file_end empty"}));
    EXPECT_TRUE(fs::exists(fs::path(install) / L"empty"));
    EXPECT_EQ(fs::file_size(fs::path(install) / L"empty"), 0u);
    EXPECT_EQ(x.write(archive.data() + h, 2), 2u);
    EXPECT_EQ(installed(L"next"), "xy");
}

TEST_F(Extraction, ZeroLengthLastFileIsCreated)
{
    const std::string archive = archive_of({{u"a", u"<InstallPath>", "1"}, {u"last", u"<InstallPath>", ""}});
    EXPECT_TRUE(extract(bzip2(archive)));
    EXPECT_EQ(events.lines.back(), "finished " + std::to_string(archive.size()));
    EXPECT_EQ(std::count(events.lines.begin(), events.lines.end(), "file_end last"), 1);
    EXPECT_TRUE(fs::exists(fs::path(install) / L"last"));
}

TEST_F(Extraction, DamagedArchivesFailOnceWithTheirCode)
{
    const std::string archive = archive_of(two_files);
    const std::string compressed = bzip2(archive);
    const auto b_path = (fs::path(install) / L"Sub\\b.bin").native();
    const struct {
        const char* what;
        std::string input;
        compress_errc code;
        std::wstring message;
    } cases[] = {
        {"data after the last entry", bzip2(archive + "x"), compress_errc::unexpected_error, L""},
        {"archive shorter than announced", bzip2(archive.substr(0, archive.size() - 1)),
         compress_errc::unexpected_error, b_path},
        {"header cut short", bzip2(archive.substr(0, 20)), compress_errc::unexpected_error, L""},
        {"empty bzip2 stream", bzip2(""), compress_errc::unexpected_error, L""},
        {"empty resource (no bzip2 stream at all)", "", compress_errc::bzip2_error, L""},
        {"truncated bzip2 stream", compressed.substr(0, compressed.size() - 10), compress_errc::bzip2_error, L""},
        {"not bzip2 at all", "hello, world", compress_errc::bzip2_error, L""},
        // The decompressor finds the junk before it has handed over all of b.bin.
        {"bytes after the bzip2 stream", compressed + "junk", compress_errc::bzip2_error, b_path},
    };
    for (const auto& c : cases) {
        events.lines.clear();
        EXPECT_FALSE(extract(c.input)) << c.what;
        EXPECT_EQ(events.lines.front(), "started") << c.what;
        EXPECT_EQ(events.lines.back(), failed_line(c.code, c.message)) << c.what;
        EXPECT_EQ(std::count_if(events.lines.begin(), events.lines.end(),
                                [](const std::string& l) { return l.starts_with("failed") || l.starts_with("finished"); }),
                  1)
            << c.what;
    }
}

TEST_F(Extraction, ImpossibleHeadersAreUnexpectedErrors)
{
    auto u64 = [](std::uint64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); };
    auto u32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const struct {
        const char* what;
        std::string archive;
    } cases[] = {
        {"header size 0", u64(0) + u32(0) + "data"},
        {"header size 11", u64(11) + u32(0) + "data"},
        {"header size 2^63", u64(1ull << 63) + u32(0) + "data"},
        {"header size just above the limit", u64(archive_max_header_size + 1) + u32(0) + std::string(100, 'x')},
        {"header size at the limit, data short", u64(archive_max_header_size) + u32(0) + std::string(100, 'x')},
        {"entry count 4 billion", u64(100) + u32(0xFFFFFFFF) + std::string(100, 'x')},
        {"string length beyond the header", u64(40) + u32(1) + u32(0x40000000) + std::string(100, 'x')},
        {"file sizes overflow", encode_archive_header({{u"a", u"", 0, ~0ull, 0}, {u"b", u"", 0, 100, 0}}) + "x"},
        {"source without a file name", encode_archive_header({{u"dir\\", u"<InstallPath>", 0, 1, 0}}) + "x"},
        {"source ..", encode_archive_header({{u"..", u"<InstallPath>", 0, 1, 0}}) + "x"},
    };
    for (const auto& c : cases) {
        events.lines.clear();
        EXPECT_FALSE(extract(bzip2(c.archive))) << c.what;
        EXPECT_EQ(events.lines.back(), failed_line(compress_errc::unexpected_error)) << c.what;
    }
}

TEST_F(Extraction, FlippedStoredCrcLeavesTheCompleteFile)
{
    auto entries = entries_of(two_files);
    entries[1].crc32 ^= 0x100;
    EXPECT_FALSE(extract(bzip2(archive_of(entries, two_files))));
    EXPECT_EQ(events.lines.back(), failed_line(compress_errc::invalid_checksum, (fs::path(install) / L"Sub\\b.bin").native()));
    EXPECT_EQ(std::count(events.lines.begin(), events.lines.end(), "file_end b.bin"), 0);
    EXPECT_EQ(installed(L"Sub\\b.bin"), two_files[1].data);
}

TEST_F(Extraction, SkippingEveryFileWritesNothing)
{
    events.answer = [](const notification& n) {
        return std::holds_alternative<notification::file_begin>(n.event) ? result::skip : result::proceed;
    };
    auto entries = entries_of(two_files);
    entries[0].crc32 ^= 1; // not checked when skipped
    const std::string archive = archive_of(entries, two_files);
    EXPECT_TRUE(extract(bzip2(archive)));
    EXPECT_EQ(events.lines.back(), "finished " + std::to_string(archive.size()));
    EXPECT_EQ(std::count_if(events.lines.begin(), events.lines.end(),
                            [](const std::string& l) { return l.starts_with("file_end"); }),
              0);
    EXPECT_FALSE(fs::exists(install));
}

TEST_F(Extraction, SkipAnswersOtherThanToFileBeginMeanProceed)
{
    events.answer = [](const notification& n) {
        return std::holds_alternative<notification::file_begin>(n.event) ? result::proceed : result::skip;
    };
    EXPECT_TRUE(extract(bzip2(archive_of(two_files))));
    EXPECT_EQ(installed(L"a.txt"), "alpha");
}

TEST_F(Extraction, CancelStopsWithInterrupted)
{
    const struct {
        const char* what;
        std::function<bool(const notification&)> cancel_on;
        std::wstring message;
    } cases[] = {
        {"after the header", [](const notification& n) { return std::holds_alternative<notification::progress>(n.event); }, L""},
        {"at file_begin", [](const notification& n) { return std::holds_alternative<notification::file_begin>(n.event); },
         L""},
        {"at file_end", [](const notification& n) { return std::holds_alternative<notification::file_end>(n.event); },
         (fs::path(install) / L"a.txt").native()},
        {"answers to started and finished are ignored",
         [](const notification& n) { return std::holds_alternative<notification::started>(n.event); }, L"-"},
    };
    for (const auto& c : cases) {
        events.lines.clear();
        events.answer = [&](const notification& n) { return c.cancel_on(n) ? result::cancel : result::proceed; };
        const bool succeeded = extract(bzip2(archive_of(two_files)));
        if (c.message == L"-") {
            EXPECT_TRUE(succeeded) << c.what;
            continue;
        }
        EXPECT_FALSE(succeeded) << c.what;
        EXPECT_EQ(events.lines.back(), failed_line(compress_errc::interrupted, c.message)) << c.what;
    }
}

TEST_F(Extraction, CallbackExceptionsEndTheExtraction)
{
    const struct {
        const char* what;
        std::function<void()> raise;
        std::string failed;
    } cases[] = {
        {"system error", [] { throw std::system_error(112, std::system_category()); }, "failed system 112 "},
        {"anything else", [] { throw std::runtime_error("x"); }, "failed compress 7 "},
    };
    for (const auto& c : cases) {
        events.lines.clear();
        events.answer = [&](const notification& n) {
            if (std::holds_alternative<notification::file_begin>(n.event))
                c.raise();
            return result::proceed;
        };
        EXPECT_FALSE(extract(bzip2(archive_of(two_files)))) << c.what;
        EXPECT_EQ(events.lines.back(), c.failed) << c.what;
    }
}

TEST_F(Extraction, ReadOnlyFileIsOverwritten)
{
    fs::create_directories(install);
    const auto target = fs::path(install) / L"a.txt";
    write_file(target, "old contents, longer than the new");
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(extract(bzip2(archive_of(two_files))));
    EXPECT_EQ(installed(L"a.txt"), "alpha");
    // Windows refuses to open a read-only file for writing; under Wine the
    // tests run as root, which writes through it, so the attribute the
    // extractor leaves tells whether it cleared it first.
    EXPECT_FALSE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY)
        << "the read-only attribute was not cleared before the file was written";
}

TEST_F(Extraction, UnwritableDestinationFailsWithTheSystemError)
{
    fs::create_directories(fs::path(install) / L"a.txt"); // a folder where the file goes
    EXPECT_FALSE(extract(bzip2(archive_of(two_files))));
    EXPECT_EQ(events.lines.back(), "failed system " + std::to_string(ERROR_ACCESS_DENIED) + " "
                                       + narrow((fs::path(install) / L"a.txt").native()));
}

TEST_F(Extraction, SharedFoldersAreWidenedOnce)
{
    const std::vector<stored_file> files = {
        {u"one.ini", u"<CommonData>\\Maker\\Product", "1"},
        {u"two.ini", u"<CommonData>\\Maker\\Product", "2"},
        {u"three.txt", u"<SamplePath>\\Sub", "3"},
    };
    auto x = extractor();
    feed(x, archive_of(files), 4096);
    const auto data = scratch.path() / L"shell" / (L"csidl-" + std::to_wstring(CSIDL_COMMON_APPDATA));
    const auto desktop = scratch.path() / L"shell" / (L"csidl-" + std::to_wstring(CSIDL_COMMON_DESKTOPDIRECTORY));
    ASSERT_EQ(x.shared_folders().size(), 3u);
    const struct {
        fs::path folder;
    } expected[] = {{data / L"Maker"}, {data / L"Maker\\Product"}, {desktop / L"Examples"}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(x.shared_folders()[i].folder, expected[i].folder) << i;
        EXPECT_TRUE(x.shared_folders()[i].done) << i;
    }
    EXPECT_EQ(read_file(data / L"Maker\\Product\\one.ini"), "1");
    EXPECT_EQ(read_file(desktop / L"Examples\\Sub\\three.txt"), "3");
}

// The installation makes a file's folders itself when the file begins (its
// log records them), before the extractor opens the file: a shared folder
// missing at an earlier file is still found and widened.
TEST_F(Extraction, SharedFoldersMadeBeforeTheExtractorOpensTheFileAreWidened)
{
    const std::vector<stored_file> files = {
        {u"first.txt", u"<InstallPath>", "0"},
        {u"one.ini", u"<CommonData>\\Maker\\Product", "1"},
    };
    payload_extractor x(install, L"Examples", scratch / L"temp",
                        [this](notification n) {
                            if (const auto* begin = std::get_if<notification::file_begin>(&n.event))
                                fs::create_directories(begin->entry.destination.parent_path());
                            return events.callback()(std::move(n));
                        },
                        fake_folders(scratch.path() / L"shell"));
    feed(x, archive_of(files), 4096);
    ASSERT_EQ(x.shared_folders().size(), 2u);
    for (const shared_folder& shared : x.shared_folders())
        EXPECT_TRUE(shared.done) << narrow(shared.folder.native());
}

TEST(FileCrc32, RetriesWhileAnotherProcessHoldsTheFile)
{
    scratch_folder scratch;
    const auto file = scratch.path() / L"held.bin";
    write_file(file, "123456789");
    for (int violations : {1, 3, 4}) {
        HANDLE holder = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        int waits = 0;
        auto wait = [&] {
            if (++waits == violations) {
                CloseHandle(holder);
                holder = nullptr;
            }
        };
        if (violations <= 3) {
            EXPECT_EQ(file_crc32(file, wait), 0xCBF43926u) << violations;
        }
        else {
            try {
                file_crc32(file, wait);
                ADD_FAILURE() << "a fourth sharing violation must propagate";
            }
            catch (const std::system_error& e) {
                EXPECT_EQ(e.code(), std::error_code(ERROR_SHARING_VIOLATION, std::system_category()));
            }
        }
        EXPECT_EQ(waits, std::min(violations, 3));
        if (holder)
            CloseHandle(holder);
    }
    try {
        file_crc32(scratch.path() / L"missing", [] { ADD_FAILURE() << "only sharing violations are retried"; });
        ADD_FAILURE() << "a missing file must raise";
    }
    catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()));
    }
}

TEST(VerifyPayload, AcceptsOnlyASoundStreamWithNothingAfterIt)
{
    const std::string compressed = bzip2(archive_of(two_files));
    std::string flipped = compressed;
    flipped[flipped.size() / 2] ^= 0x10;
    const struct {
        const char* what;
        std::string input;
        bool sound;
    } cases[] = {
        {"sound", compressed, true},
        {"truncated", compressed.substr(0, compressed.size() - 1), false},
        {"flipped bit", flipped, false},
        {"trailing bytes", compressed + "x", false},
        {"second stream", compressed + bzip2("second"), false},
        {"the same stream twice", compressed + compressed, false},
        {"not bzip2", "plain", false},
    };
    for (const auto& c : cases) {
        hv::imemstream in(c.input);
        EXPECT_EQ(verify_payload(in), c.sound) << c.what;
    }
}

// The reader takes the archive in 4096-byte blocks: a stream that ends on a
// block's last byte leaves nothing in the decoder's input, and what follows
// is only seen by reading on.
TEST(VerifyPayload, BytesAfterAStreamEndingOnABlockBoundaryAreFound)
{
    std::mt19937 engine(20261210);
    std::string noise(6000, '\0');
    for (char& c : noise)
        c = static_cast<char>(engine());
    std::string exact;
    for (std::size_t length = 3000; length < noise.size() && exact.empty(); ++length) {
        std::string compressed = bzip2(noise.substr(0, length));
        if (compressed.size() == 4096)
            exact = std::move(compressed);
    }
    ASSERT_EQ(exact.size(), 4096u) << "no stream of exactly one block was found";
    const struct {
        const char* what;
        std::string input;
        bool sound;
    } cases[] = {
        {"the stream alone", exact, true},
        {"one byte after it", exact + "x", false},
        {"a whole block after it", exact + std::string(4096, 'y'), false},
        {"a second stream after it", exact + bzip2("second"), false},
    };
    for (const auto& c : cases) {
        hv::imemstream in(c.input);
        EXPECT_EQ(verify_payload(in), c.sound) << c.what;
    }
}

TEST(ErrorCodeOfExceptions, FirstMatchWins)
{
    auto code_of = [](auto e) { return extraction_error_code(std::make_exception_ptr(e)); };
    EXPECT_EQ(code_of(boost::iostreams::bzip2_error(-4)), make_error_code(compress_errc::bzip2_error));
    EXPECT_EQ(code_of(std::system_error(5, std::system_category())), std::error_code(5, std::system_category()));
    EXPECT_EQ(code_of(std::system_error(13, std::generic_category())), std::error_code(13, std::generic_category()));
    EXPECT_EQ(code_of(fs::filesystem_error("x", std::error_code(3, std::system_category()))),
              std::error_code(3, std::system_category()));
    EXPECT_EQ(code_of(boost::system::system_error(boost::system::error_code(32, boost::system::system_category()))),
              std::error_code(32, std::system_category()));
    EXPECT_EQ(code_of(boost::system::system_error(boost::system::error_code(2, boost::system::generic_category()))),
              std::error_code(2, std::generic_category()));
    EXPECT_EQ(code_of(std::runtime_error("x")), make_error_code(compress_errc::unexpected_error));
    EXPECT_EQ(code_of(42), make_error_code(compress_errc::unexpected_error));
}

// Damaged archives of every kind must end in exactly one failed (or, when
// the damage changed nothing that matters, finished) notification: no crash,
// no hang, no unbounded allocation.
TEST_F(Extraction, MutatedArchivesNeverCrash)
{
    const std::vector<stored_file> files = {
        {u"a.txt", u"<InstallPath>", "alpha alpha alpha"},
        {u"empty", u"<InstallPath>\\Sub", ""},
        {u"b.bin", u"<InstallPath>\\Sub", std::string(6000, 'b')},
    };
    const std::string archive = archive_of(files);
    const std::string compressed = bzip2(archive);
    const auto header_size = archive_header_size(entries_of(files));
    std::mt19937 random(20240611);
    auto pick = [&](std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random); };

    // Files go only below the scratch folder, whatever a damaged header names.
    events.answer = [&](const notification& n) {
        if (const auto* begin = std::get_if<notification::file_begin>(&n.event)) {
            const auto full = fs::absolute(begin->entry.destination).lexically_normal().native();
            if (!full.starts_with(scratch.path().native()))
                return result::skip;
        }
        return result::proceed;
    };
    const fs::path previous = fs::current_path();
    fs::current_path(scratch.path());

    int failures = 0;
    const int rounds = 400;
    for (int round = 0; round < rounds; ++round) {
        std::string input;
        std::string what;
        switch (round % 4) {
        case 0: { // a bit of the compressed stream
            input = compressed;
            const auto at = pick(input.size());
            input[at] ^= static_cast<char>(1 << pick(8));
            what = "compressed bit " + std::to_string(at);
            break;
        }
        case 1: { // a bit of the header
            std::string damaged = archive;
            const auto at = pick(header_size);
            damaged[at] ^= static_cast<char>(1 << pick(8));
            input = bzip2(damaged);
            what = "header bit " + std::to_string(at);
            break;
        }
        case 2: { // a random byte anywhere in the archive
            std::string damaged = archive;
            const auto at = pick(damaged.size());
            damaged[at] = static_cast<char>(pick(256));
            input = bzip2(damaged);
            what = "archive byte " + std::to_string(at);
            break;
        }
        default: { // cut short or lengthened
            const auto at = pick(archive.size() + 8);
            input = at < archive.size() ? bzip2(archive.substr(0, at)) : bzip2(archive + std::string(at - archive.size() + 1, 'z'));
            what = "length " + std::to_string(at);
            break;
        }
        }
        events.lines.clear();
        const bool succeeded = extract(input);
        ASSERT_FALSE(events.lines.empty()) << what;
        EXPECT_EQ(events.lines.front(), "started") << what;
        const auto ends = std::count_if(events.lines.begin(), events.lines.end(), [](const std::string& l) {
            return l.starts_with("failed") || l.starts_with("finished");
        });
        EXPECT_EQ(ends, 1) << what;
        EXPECT_EQ(events.lines.back().starts_with(succeeded ? "finished" : "failed"), true) << what;
        failures += !succeeded;
    }
    fs::current_path(previous);
    EXPECT_GT(failures, rounds / 2) << "most damage must be noticed";
}

}
