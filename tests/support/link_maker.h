// Links a standard user could put where the installation's folders are.
// Wine makes no Windows links, but follows a Unix link inside the prefix as
// Windows follows a junction; tests/e2e/with_link_maker.sh runs a test
// program beside a helper on the build machine that makes them on request.
#pragma once

#include <filesystem>
#include <string>

namespace test_support {

// Why no link can be made in this run; empty when the helper is there.
std::string link_maker_unavailable();

// Asks the helper for a link at `link` pointing to `target` (both on drive
// C:), or to remove the link when `target` is empty (Wine cannot: its
// RemoveDirectoryW and DeleteFileW look through a link to a folder).
// Returns the helper's answer: "made\n", "removed\n" or what went wrong.
std::string request_link(const std::filesystem::path& link, const std::filesystem::path& target);

}
