// Takes a picture of what an installation touches on this machine, checks a
// state file against the machine, or compares the machine with an earlier
// picture; prints every difference and exits 1 when there is one.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/machine_state.h"

namespace {

void print(const std::wstring& text)
{
    auto bytes = machine_state::to_utf8(text + L"\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string read_file(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + machine_state::to_utf8(path));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int report(const std::vector<std::wstring>& differences)
{
    for (const auto& d : differences)
        print(d);
    return differences.empty() ? 0 : 1;
}

int usage()
{
    print(L"prefix_state snapshot OUT.state\n"
          L"prefix_state check STATE.state...\n"
          L"prefix_state compare SNAPSHOT.state [IGNORED-PREFIX...]");
    return 2;
}

}

int wmain(int argc, wchar_t** argv)
{
    using namespace machine_state;
    try {
        if (argc < 3)
            return usage();
        std::wstring command = argv[1];
        if (command == L"snapshot") {
            auto facts = capture(default_folders(), default_keys());
            std::vector<fact> list;
            for (auto& [id, f] : facts)
                list.push_back(f);
            std::ofstream(std::filesystem::path(argv[2]), std::ios::binary) << format(list);
            return 0;
        }
        if (command == L"check") {
            std::vector<fact> required;
            for (int i = 2; i < argc; ++i) {
                auto more = parse(read_file(argv[i]));
                required.insert(required.end(), more.begin(), more.end());
            }
            return report(differences(required, observe(required)));
        }
        if (command == L"compare") {
            fact_set before;
            for (auto& f : parse(read_file(argv[2])))
                before.insert_or_assign(f.identity(), f);
            return report(changes(before, capture(default_folders(), default_keys()),
                                  std::vector<std::wstring>(argv + 3, argv + argc)));
        }
        return usage();
    }
    catch (const std::exception& e) {
        print(L"prefix_state: " + from_utf8(e.what()));
        return 2;
    }
}
