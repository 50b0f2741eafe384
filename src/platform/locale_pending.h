// TEMPORARY: stands in for the locale state and string tables until their
// branch is merged; removed then.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

inline unsigned pending_current_language() { return 0; }
inline LCID pending_current_lcid() { return 0x040c; }
inline bool pending_default_right_to_left() { return false; }
inline std::optional<std::wstring> pending_module_string(unsigned) { return std::nullopt; }
