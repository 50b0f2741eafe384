// The installer's start-up as separate programs see it: the probe starts
// like the installer, with the checks before its entry point, and the test
// answers its message boxes as a user would.
#include "core/installer_context.h"
#include "platform/error_text.h"
#include "platform/sync_objects.h"
#include "support/test_support.h"
#include "ui_driver.h"

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

TEST(StartupChecks, ProcessorWithoutSse2)
{
    GTEST_SKIP() << "every x86-64 processor has SSE2, so the trilingual box and exit code 1 cannot be produced";
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
