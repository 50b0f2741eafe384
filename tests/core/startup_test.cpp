// The installer's start-up as separate programs see it: the probe starts
// like the installer, with the checks before its entry point, and the test
// answers its message boxes as a user would.
#include "core/installer_context.h"
#include "platform/error_text.h"
#include "platform/sync_objects.h"
#include "support/test_support.h"
#include "ui_driver.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

constexpr DWORD stopped = 2;

std::wstring probe(const std::wstring& name)
{
    return test_support::build_file(L"tests\\core\\" + name + L".exe");
}

DWORD exit_code_of(ui_driver::process& program)
{
    const auto code = program.wait_for_exit(30s);
    if (!code) {
        ADD_FAILURE() << "the program did not end";
        return ~0u;
    }
    return *code;
}

TEST(StartupChecks, ProcessorWithoutSse2ShowsTheTrilingualBoxAndEndsWithOne)
{
    for (const bool sse2 : {true, false}) {
        std::vector<DWORD> asked;
        std::vector<std::pair<std::wstring, UINT>> boxes;
        const UINT exit_code = check_processor(
            [&](DWORD feature) {
                asked.push_back(feature);
                return sse2;
            },
            [&](const wchar_t* text, UINT flags) { boxes.emplace_back(text, flags); });
        EXPECT_EQ(asked, std::vector<DWORD>{PF_XMMI64_INSTRUCTIONS_AVAILABLE});
        if (sse2) {
            EXPECT_EQ(exit_code, 0u);
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        EXPECT_EQ(exit_code, 1u);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].first, L"This Version is not compatible with your Configuration.\n\n"
                                  L"Cette version n'est pas compatible avec votre configuration.\n\n"
                                  L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.");
        EXPECT_EQ(boxes[0].second, UINT{MB_ICONERROR});
    }
}

TEST(StartupChecks, WithCommonControls6StartUpEndsWithoutAWindow)
{
    ui_driver::process program(probe(L"startup_probe"), L"");
    EXPECT_EQ(exit_code_of(program), 0u);
}

TEST(StartupChecks, WithoutCommonControls6InitializationErrorAndMinusEleven)
{
    ui_driver::process program(probe(L"startup_probe_plain"), L"");
    const HWND box = ui_driver::wait_for_dialog(program.id(), 20s);
    EXPECT_EQ(ui_driver::message_box_text(box), L"Initialization Error");
    ui_driver::answer_message_box(box, IDOK);
    EXPECT_EQ(exit_code_of(program), static_cast<DWORD>(-11));
}

TEST(StartupChecks, SecondInstallerFindsTheLockBusy)
{
    named_mutex first_installer(installation_lock_name(L"startup_probe"), false, true);
    ASSERT_TRUE(first_installer.try_lock());

    ui_driver::process program(probe(L"startup_probe"), L"");
    const HWND box = ui_driver::wait_for_dialog(program.id(), 20s);
    // Before the language is chosen both programs read system texts in the initial language.
    EXPECT_EQ(ui_driver::message_box_text(box), error_text(ERROR_BUSY));
    ui_driver::answer_message_box(box, IDOK);
    EXPECT_EQ(exit_code_of(program), stopped);
    EXPECT_TRUE(first_installer.owned());
}

TEST(Installer, RefusedStartUpEndsWithExitCodeZero)
{
    named_mutex first_installer(installation_lock_name(L"Quillmar3"), false, true);
    ASSERT_TRUE(first_installer.try_lock());

    ui_driver::process installer(test_support::build_file(L"src\\Quillmar3Setup.exe"), L"");
    const HWND box = ui_driver::wait_for_dialog(installer.id(), 20s);
    EXPECT_EQ(ui_driver::message_box_text(box), error_text(ERROR_BUSY));
    ui_driver::answer_message_box(box, IDOK);
    EXPECT_EQ(exit_code_of(installer), 0u);
}

TEST(StartupChecks, RunningProductAsksUntilCancel)
{
    instance_counter product(instance_counter_name(L"startup_probe"));
    ASSERT_EQ(product.own_count(), 1);

    ui_driver::process program(probe(L"startup_probe"), L"");
    HWND box = ui_driver::wait_for_dialog(program.id(), 20s);
    const std::wstring text = ui_driver::message_box_text(box);
    EXPECT_NE(text.find(L"'Quillmar'"), std::wstring::npos) << text.size();
    ui_driver::answer_message_box(box, IDRETRY);

    box = ui_driver::wait_for_dialog(program.id(), 20s, {}, box);
    EXPECT_EQ(ui_driver::message_box_text(box), text);
    ui_driver::answer_message_box(box, IDCANCEL);
    EXPECT_EQ(exit_code_of(program), stopped);
}

}
