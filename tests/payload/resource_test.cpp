#include "payload/extractor.h"

#include "archive_builder.h"
#include "support/test_support.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace payload_test;

namespace {

// The built installer, or the copy HV_TEST_INSTALLER names (a signed one).
std::wstring installer_path()
{
    if (const char* path = std::getenv("HV_TEST_INSTALLER"))
        return test_support::windows_path(path);
    return test_support::build_file(L"src\\Quillmar3Setup.exe");
}

// The installer executable, loaded for its resources only.
class installer_module {
public:
    installer_module()
        : module_(LoadLibraryExW(installer_path().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~installer_module()
    {
        if (module_)
            FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

TEST(PayloadResource, MissingResourceGivesAnEmptyStream)
{
    EXPECT_TRUE(payload_resource(nullptr).empty()) << "the test program carries no payload";
}

// The packer's archive, extracted through extract_payload, gives the 27
// shipped files, byte for byte, at the destinations the manifest names.
TEST(PayloadResource, InstallerPayloadRoundTrip)
{
    installer_module installer;
    ASSERT_TRUE(installer.get()) << GetLastError();
    const auto data = payload_resource(installer.get());
    ASSERT_GE(data.size(), 4u);
    EXPECT_EQ(std::string_view(data.data(), 4), "BZh9");

    hv::imemstream in(data.data(), data.size());
    ASSERT_TRUE(verify_payload(in));
    in.clear();
    in.seekg(0);

    scratch_folder scratch;
    recorder events;
    const auto shell = scratch.path() / L"shell";
    const auto install = scratch.path() / L"install";
    ASSERT_TRUE(extract_payload(in, install.native(), L"Examples", L"", events.callback(), fake_folders(shell)));

    // The files as the build staged them for packing.
    const fs::path stage = test_support::build_file(L"src\\resources\\quillmar3-payload-stage");
    const auto common_data = shell / (L"csidl-" + std::to_wstring(CSIDL_COMMON_APPDATA));
    const auto user_data = shell / (L"csidl-" + std::to_wstring(CSIDL_APPDATA));
    const auto desktop = shell / (L"csidl-" + std::to_wstring(CSIDL_COMMON_DESKTOPDIRECTORY));
    std::vector<std::pair<fs::path, fs::path>> files{
        {L"programs\\Quillmar.exe", install / L"Quillmar.exe"},
        {L"programs\\Uninstall.exe", install / L"Uninstall.exe"},
        {L"datafiles\\Quillmar.ini", common_data / L"Halden & Voss\\Quillmar\\Quillmar.ini"},
        {L"datafiles\\Styles.ini", common_data / L"Halden & Voss\\Quillmar\\Styles.ini"},
        {L"datafiles\\UserDictionary.dic", user_data / L"Halden & Voss\\Quillmar\\UserDictionary.dic"},
    };
    for (const wchar_t* language : {L"de", L"en", L"es", L"hu", L"it", L"pl", L"pt", L"ro", L"tk"}) {
        const std::wstring name = std::wstring(L"Quillmar.") + language + L".dll";
        files.emplace_back(L"languages\\" + name, install / L"Lang" / name);
    }
    for (const wchar_t* example : {L"Welcome", L"Letter", L"Invoice", L"Meeting Notes", L"Recipe", L"Travel Plan",
                                   L"Newsletter", L"Report", L"Poem", L"Checklist", L"Shopping List", L"Tables",
                                   L"Styles"}) {
        const std::wstring name = std::wstring(example) + L".qmd";
        files.emplace_back(L"examples\\" + name, desktop / L"Examples" / name);
    }
    for (const auto& [packed, extracted] : files) {
        ASSERT_TRUE(fs::exists(extracted)) << narrow(extracted.native());
        EXPECT_EQ(read_file(extracted), read_file(stage / packed)) << narrow(packed.native());
    }
    EXPECT_EQ(std::count_if(events.lines.begin(), events.lines.end(),
                            [](const std::string& l) { return l.starts_with("file_end"); }),
              27);
}

}
