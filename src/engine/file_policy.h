// What an installation does with one payload entry before its bytes arrive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "payload/archive_format.h"
#include "records/uninstall_log.h"

enum class file_action {
    write,           // record (unless transient) and write the file
    keep_and_record, // leave the existing file as it is, but record it as installed
    keep_silently,   // the earlier installation's record covers it: nothing new is recorded
    skip,            // neither written nor recorded
};

struct file_decision {
    file_action action = file_action::write;
    bool copy_backup = false;       // an existing file is copied aside, not moved
    bool record = true;             // add_file before anything happens to the file
    bool grant_users = false;       // the Users group may change the file
    bool remove_afterwards = false; // removed when the installation ends
    friend bool operator==(const file_decision&, const file_decision&) = default;
};

// Whether the earlier installation's records hold `destination` as a file it installed.
bool recorded_as_done(const std::vector<log_record>& previous, const std::filesystem::path& destination);

// Data files the user may have changed are never overwritten; an update
// leaves the earlier examples alone, and any installation leaves an example
// whose content is not what is shipped (the user's document now);
// transient files go when the installation ends. `destination_as_shipped`:
// an existing destination holds what the archive carries for it.
file_decision file_action_for(payload_kind kind, std::int32_t existing_state,
                              const std::vector<log_record>& previous,
                              const std::filesystem::path& destination, bool destination_exists,
                              bool destination_as_shipped = true);
