// Putting right what an installation ended part-way left behind: each run
// keeps its journal in its private run folder; the next run finds it and
// undoes the steps, last first, so that the machine is as before the
// interrupted run. A run whose journal says it stands is only cleaned up.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel_handle.h"
#include "records/owned_folders.h"
#include "records/recovery_journal.h"

// What the recovery may act on besides the folders the journal's first step
// names and the product's Uninstall entry: the registry keys (below
// HKEY_LOCAL_MACHINE) whose values and sub-keys a run records.
struct recovery_places {
    csidl_lookup lookup = csidl_folder;
    std::vector<std::wstring> registry_roots;
};

// Undoes `steps` (nothing when they hold a commit), last first, and returns
// the places that could not be put back; never stops at one. A step that
// names a path outside the run's own folders, or a backup outside
// `run_folder`, is not acted on and is returned too.
std::vector<std::wstring> undo_journal(const std::vector<journal_step>& steps, const std::wstring& run_folder,
                                       const recovery_places& places);

// A registry value below HKEY_LOCAL_MACHINE that a run may change.
struct registry_place {
    std::wstring key;
    std::wstring name;
};

// Announces what each place holds now, and before that each key on the way
// from its root in `roots` that does not exist yet (the shallower first),
// so that the recovery can put them back. Raises std::system_error.
void journal_registry_places(journal_writer& journal, const std::vector<registry_place>& places,
                             const std::vector<std::wstring>& roots);

// The key below HKEY_LOCAL_MACHINE as it is now, every value with it.
// Raises std::system_error when a value cannot be read.
journal_key_values key_values_of(const std::wstring& key);

struct recovery_report {
    int undone = 0;                 // interrupted runs put right
    std::vector<std::wstring> left; // places still to put right; the journals stay for the next run
};

// A run's hold on its own folder, from the moment the folder is made until
// the run ends: the folder cannot be removed while held, and the recovery
// of any other run, of this product or another of the maker's, leaves it
// alone. Released before the run removes the folder itself.
class run_folder_hold {
public:
    run_folder_hold() = default;
    // Raises std::system_error when the folder cannot be opened.
    explicit run_folder_hold(const std::wstring& folder);
    void release() { handle_.reset(); }

private:
    kernel_handle handle_;
};

// Whether a running installation holds `folder` (run_folder_hold).
bool run_folder_in_use(const std::wstring& folder);

// Every run folder of the private storage that holds a journal: undone and
// then removed with its backups, unless something could not be undone.
// Also removes run folders without a journal whose backups the list of
// backups not put back does not name. Folders a running installation holds
// are left alone. Never throws.
recovery_report recover_interrupted_runs(const recovery_places& places);

// Removes `folder` and everything in it, links as links; false when
// something stays.
bool remove_run_folder(const std::wstring& folder);
