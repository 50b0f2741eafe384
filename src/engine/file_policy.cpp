#include "engine/file_policy.h"

#include <algorithm>

#include "records/detection.h"

bool recorded_as_done(const std::vector<log_record>& previous, const std::filesystem::path& destination)
{
    return std::any_of(previous.begin(), previous.end(), [&](const log_record& record) {
        return record.kind == record_kind::file && record.done && !record.path.empty() &&
               same_location(record.path, destination);
    });
}

file_decision file_action_for(payload_kind kind, std::int32_t existing_state,
                              const std::vector<log_record>& previous,
                              const std::filesystem::path& destination, bool destination_exists,
                              bool destination_as_shipped)
{
    switch (kind) {
    case payload_kind::shared_data:
        if (existing_state != not_installed && recorded_as_done(previous, destination))
            return {file_action::keep_silently, false, false, true, false};
        if (destination_exists)
            return {file_action::keep_and_record, true, true, true, false};
        return {file_action::write, true, true, true, false};
    case payload_kind::sample:
        if (existing_state == older_installed)
            return {file_action::skip, false, false, false, false};
        if (destination_exists && !destination_as_shipped)
            return {file_action::keep_and_record, true, true, false, false};
        return {};
    case payload_kind::transient:
        return {file_action::write, false, false, false, true};
    default:
        return {};
    }
}
