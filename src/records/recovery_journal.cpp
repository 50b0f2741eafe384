#include "records/recovery_journal.h"

#include <charconv>
#include <system_error>

#include <boost/crc.hpp>
#include <fmt/format.h>

namespace {

[[noreturn]] void throw_error(DWORD error, const char* what)
{
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::optional<std::wstring> wide(std::string_view text)
{
    if (text.empty())
        return std::wstring{};
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// Paths keep their look; only '%' and control characters, which would
// break the line's shape, are written as "%xx".
std::string escaped(const std::wstring& text)
{
    std::string out;
    for (const char c : utf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '%' || byte < 0x20 || byte == 0x7F)
            out += fmt::format("%{:02x}", byte);
        else
            out += c;
    }
    return out;
}

std::optional<unsigned> hex_value(std::string_view digits)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty())
        return std::nullopt;
    return value;
}

std::optional<std::wstring> unescaped(std::string_view field)
{
    std::string bytes;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            bytes += field[i];
            continue;
        }
        const auto byte = field.size() >= i + 3 ? hex_value(field.substr(i + 1, 2)) : std::nullopt;
        if (!byte)
            return std::nullopt;
        bytes += static_cast<char>(*byte);
        i += 2;
    }
    return wide(bytes);
}

std::string hex_bytes(const std::vector<std::uint8_t>& data)
{
    std::string out;
    for (const std::uint8_t byte : data)
        out += fmt::format("{:02x}", byte);
    return out;
}

std::optional<std::vector<std::uint8_t>> bytes_of(std::string_view hex)
{
    if (hex.size() % 2)
        return std::nullopt;
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const auto byte = hex_value(hex.substr(i, 2));
        if (!byte)
            return std::nullopt;
        data.push_back(static_cast<std::uint8_t>(*byte));
    }
    return data;
}

std::optional<DWORD> number_of(std::string_view digits)
{
    DWORD number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty())
        return std::nullopt;
    return number;
}

std::string sum_text(const std::optional<content_sum>& sum)
{
    return sum ? fmt::format("{}\t{:08x}", sum->size, sum->crc32) : "-\t-";
}

std::optional<std::optional<content_sum>> sum_from(std::string_view size, std::string_view crc)
{
    if (size == "-" && crc == "-")
        return std::optional<content_sum>{};
    content_sum sum;
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), sum.size);
    const auto value = hex_value(crc);
    if (error != std::errc() || end != size.data() + size.size() || size.empty() || !value || crc.size() != 8)
        return std::nullopt;
    sum.crc32 = *value;
    return std::optional<content_sum>{sum};
}

std::vector<std::string> fields_of(const journal_step& step)
{
    struct visitor {
        std::vector<std::string> operator()(const journal_begin& s) const
        {
            return {"begin", escaped(s.install_folder), escaped(s.menu_folder), escaped(s.desktop_folder)};
        }
        std::vector<std::string> operator()(const journal_folder& s) const { return {"folder", escaped(s.path)}; }
        std::vector<std::string> operator()(const journal_file& s) const
        {
            return {"file", fmt::format("{:x}", static_cast<int>(s.kind)), escaped(s.path), escaped(s.backup),
                    sum_text(s.backup_sum)};
        }
        std::vector<std::string> operator()(const journal_key_values& s) const
        {
            std::vector<std::string> fields{"key-values", escaped(s.key), s.existed ? "1" : "0"};
            for (const registry_data& value : s.values) {
                fields.push_back(escaped(value.name));
                fields.push_back(std::to_string(value.type));
                fields.push_back(hex_bytes(value.data));
            }
            return fields;
        }
        std::vector<std::string> operator()(const journal_registry_key& s) const { return {"key", escaped(s.key)}; }
        std::vector<std::string> operator()(const journal_registry_value& s) const
        {
            return {"value", escaped(s.key), escaped(s.name), s.type ? std::to_string(*s.type) : "-",
                    hex_bytes(s.data)};
        }
        std::vector<std::string> operator()(const journal_commit&) const { return {"commit"}; }
    };
    return std::visit(visitor{}, step);
}

std::vector<std::string_view> split(std::string_view line, char separator)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = line.find(separator, start);
        parts.push_back(line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

std::uint32_t crc_of(std::string_view text)
{
    boost::crc_32_type crc;
    crc.process_bytes(text.data(), text.size());
    return crc.checksum();
}

std::optional<journal_step> step_of(const std::vector<std::string_view>& f)
{
    const auto text = [&](std::size_t i) { return unescaped(f[i]); };
    const std::string_view tag = f[0];
    if (tag == "begin" && f.size() == 4) {
        auto install = text(1), menu = text(2), desktop = text(3);
        if (install && menu && desktop)
            return journal_begin{*install, *menu, *desktop};
    }
    else if (tag == "folder" && f.size() == 2) {
        if (auto path = text(1))
            return journal_folder{*path};
    }
    else if (tag == "file" && f.size() == 6) {
        const auto kind = hex_value(f[1]);
        auto path = text(2), backup = text(3);
        const auto sum = sum_from(f[4], f[5]);
        if (kind && *kind < 16 && path && backup && sum)
            return journal_file{static_cast<record_kind>(*kind), *path, *backup, *sum};
    }
    else if (tag == "key-values" && f.size() >= 3 && (f.size() - 3) % 3 == 0 && (f[2] == "0" || f[2] == "1")) {
        auto key = text(1);
        if (!key)
            return std::nullopt;
        journal_key_values step{*key, f[2] == "1", {}};
        for (std::size_t i = 3; i < f.size(); i += 3) {
            auto name = text(i);
            const auto type = number_of(f[i + 1]);
            auto data = bytes_of(f[i + 2]);
            if (!name || !type || !data)
                return std::nullopt;
            step.values.push_back({*name, *type, std::move(*data)});
        }
        return step;
    }
    else if (tag == "key" && f.size() == 2) {
        if (auto key = text(1))
            return journal_registry_key{*key};
    }
    else if (tag == "value" && f.size() == 5) {
        auto key = text(1), name = text(2);
        auto data = bytes_of(f[4]);
        std::optional<DWORD> type;
        if (f[3] != "-") {
            type = number_of(f[3]);
            if (!type)
                return std::nullopt;
        }
        if (key && name && data)
            return journal_registry_value{*key, *name, type, std::move(*data)};
    }
    else if (tag == "commit" && f.size() == 1) {
        return journal_commit{};
    }
    return std::nullopt;
}

}

std::string journal_line(const journal_step& step)
{
    std::string line;
    for (const std::string& field : fields_of(step))
        line += field + '\t';
    return line + fmt::format("{:08x}\n", crc_of(line));
}

std::vector<journal_step> read_journal(std::string_view bytes)
{
    std::vector<journal_step> steps;
    for (std::size_t start = 0;;) {
        const std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            return steps;
        const std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        const std::size_t last_tab = line.rfind('\t');
        if (last_tab == std::string_view::npos || line.size() - last_tab != 9)
            return steps;
        const auto crc = hex_value(line.substr(last_tab + 1));
        if (!crc || *crc != crc_of(line.substr(0, last_tab + 1)))
            return steps;
        auto step = step_of(split(line.substr(0, last_tab), '\t'));
        if (!step)
            return steps;
        steps.push_back(std::move(*step));
    }
}

bool journal_line_must_reach_disk(const journal_step& step)
{
    if (const auto* file = std::get_if<journal_file>(&step))
        return !file->backup.empty();
    return !std::holds_alternative<journal_begin>(step) && !std::holds_alternative<journal_folder>(step);
}

// Not written through: a flush costs a few milliseconds, and a small
// installation writes dozens of lines that need none.
journal_writer::journal_writer(const std::wstring& path)
    : path_(path),
      file_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                        nullptr))
{
    if (!file_)
        throw_error(GetLastError(), "CreateFileW");
}

void journal_writer::append(const journal_step& step)
{
    const std::string line = journal_line(step);
    DWORD written = 0;
    if (!WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size())
        throw_error(GetLastError(), "WriteFile");
    if (journal_line_must_reach_disk(step) && !FlushFileBuffers(file_.get()))
        throw_error(GetLastError(), "FlushFileBuffers");
}

std::optional<std::string> read_journal_file(const std::wstring& path)
{
    const kernel_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > (1 << 24))
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        return std::nullopt;
    return bytes;
}
