#include "engine/file_policy.h"

#include <gtest/gtest.h>

#include "records/detection.h"

namespace {

const std::wstring data_file = L"C:\\ProgramData\\Halden & Voss\\Quillmar\\settings.ini";

const std::vector<log_record> no_records;
const std::vector<log_record> recorded_done{{record_kind::file, data_file, L"", true, 3}};
const std::vector<log_record> recorded_not_done{{record_kind::file, data_file, L"", false, 3}};
// Letter case and separators differ, the location is the same.
const std::vector<log_record> recorded_other_spelling{
    {record_kind::file, L"c:/programdata/halden & voss/QUILLMAR/Settings.INI", L"", true, 3}};
const std::vector<log_record> recorded_as_folder{{record_kind::directory, data_file, L"", true, -1}};

constexpr file_decision write_plain{file_action::write, false, true, false, false};
constexpr file_decision write_data{file_action::write, true, true, true, false};
constexpr file_decision keep_and_record{file_action::keep_and_record, true, true, true, false};
constexpr file_decision keep_silently{file_action::keep_silently, false, false, true, false};
constexpr file_decision skip{file_action::skip, false, false, false, false};
constexpr file_decision write_transient{file_action::write, false, false, false, true};

const char* action_name(file_action action)
{
    switch (action) {
    case file_action::write: return "write";
    case file_action::keep_and_record: return "keep_and_record";
    case file_action::keep_silently: return "keep_silently";
    case file_action::skip: return "skip";
    }
    return "?";
}

}

void PrintTo(const file_decision& d, std::ostream* out)
{
    *out << "{" << action_name(d.action) << (d.copy_backup ? ", copy" : "") << (d.record ? ", record" : "")
         << (d.grant_users ? ", grant" : "") << (d.remove_afterwards ? ", remove" : "") << "}";
}

TEST(FilePolicy, DecidesByKindStateEarlierRecordsAndExistence)
{
    const struct {
        payload_kind kind;
        std::int32_t state;
        const std::vector<log_record>& previous;
        bool exists;
        file_decision expected;
    } cases[] = {
        {payload_kind::regular, not_installed, no_records, false, write_plain},
        {payload_kind::regular, older_installed, recorded_done, true, write_plain},
        {payload_kind::program, same_installed, no_records, true, write_plain},
        {payload_kind::uninstaller, older_installed, no_records, true, write_plain},
        // A data file the earlier installation put there: left alone, nothing new recorded.
        {payload_kind::shared_data, older_installed, recorded_done, true, keep_silently},
        {payload_kind::shared_data, same_installed, recorded_done, false, keep_silently},
        {payload_kind::shared_data, newer_installed, recorded_other_spelling, true, keep_silently},
        // Records only count for an existing installation, and only done file records.
        {payload_kind::shared_data, not_installed, recorded_done, true, keep_and_record},
        {payload_kind::shared_data, older_installed, recorded_not_done, true, keep_and_record},
        {payload_kind::shared_data, older_installed, recorded_as_folder, true, keep_and_record},
        {payload_kind::shared_data, not_installed, no_records, true, keep_and_record},
        {payload_kind::shared_data, not_installed, no_records, false, write_data},
        {payload_kind::shared_data, older_installed, recorded_not_done, false, write_data},
        // An update leaves the examples alone; other installations write them.
        {payload_kind::sample, older_installed, no_records, false, skip},
        {payload_kind::sample, older_installed, no_records, true, skip},
        {payload_kind::sample, not_installed, no_records, false, write_plain},
        {payload_kind::sample, same_installed, no_records, true, write_plain},
        {payload_kind::sample, newer_installed, no_records, true, write_plain},
        {payload_kind::transient, not_installed, no_records, false, write_transient},
        {payload_kind::transient, older_installed, recorded_done, true, write_transient},
    };
    for (const auto& c : cases)
        EXPECT_EQ(file_action_for(c.kind, c.state, c.previous, data_file, c.exists), c.expected)
            << "kind " << static_cast<int>(c.kind) << ", state " << c.state << ", exists " << c.exists;
}

TEST(FilePolicy, AnExampleTheUserChangedIsKeptAndRecorded)
{
    constexpr file_decision keep_example{file_action::keep_and_record, true, true, false, false};
    const struct {
        std::int32_t state;
        bool exists;
        bool as_shipped;
        file_decision expected;
    } cases[] = {
        {same_installed, true, false, keep_example},
        {newer_installed, true, false, keep_example},
        {not_installed, true, false, keep_example},
        {same_installed, true, true, write_plain},
        {not_installed, false, false, write_plain},
        // An update leaves every earlier example alone, changed or not.
        {older_installed, true, false, skip},
    };
    for (const auto& c : cases)
        EXPECT_EQ(file_action_for(payload_kind::sample, c.state, no_records, data_file, c.exists, c.as_shipped),
                  c.expected)
            << "state " << c.state << ", exists " << c.exists << ", as shipped " << c.as_shipped;
}
