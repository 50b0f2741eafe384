// Checks of what an Uninstall entry's key holds.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/uninstall_registration.h"
#include "platform/registry.h"

inline DWORD value_count(const reg_key& key)
{
    DWORD count = 0;
    EXPECT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &count, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    return count;
}

inline std::wstring string_value(const reg_key& key, const wchar_t* name)
{
    std::wstring text;
    EXPECT_TRUE(read_string(key, name, text)) << name;
    return text;
}

// Every value with its type and data; texts stored with their terminator.
inline void expect_values(const reg_key& key, const std::vector<uninstall_value>& values)
{
    for (const uninstall_value& value : values) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        ASSERT_EQ(RegQueryValueExW(key.get(), value.name.c_str(), nullptr, &type, nullptr, &size),
                  ERROR_SUCCESS)
            << value.name;
        EXPECT_EQ(type, value.type) << value.name;
        if (const auto* text = std::get_if<std::wstring>(&value.data)) {
            EXPECT_EQ(size, (text->size() + 1) * sizeof(wchar_t)) << value.name;
            EXPECT_EQ(string_value(key, value.name.c_str()), *text);
        }
        else {
            std::uint32_t number = 0;
            EXPECT_TRUE(read_dword(key, value.name.c_str(), number)) << value.name;
            EXPECT_EQ(number, std::get<std::uint32_t>(value.data)) << value.name;
        }
    }
}
