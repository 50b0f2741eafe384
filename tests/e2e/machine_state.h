// Descriptions of what a machine holds after an installation step: files,
// folders, registry keys and values, shortcuts, uninstall log records and
// processes, read from state files, taken from the live machine, and
// compared so that a failing scenario prints every difference.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace machine_state {

// One observed or required fact. `kind` and `subject` (and `name` for
// registry values and log records) identify it; `properties` say what it
// must be: "absent", "present", or name=value pairs.
struct fact {
    std::wstring kind;    // file, folder, key, value, link, record, process
    std::wstring subject; // a path, a registry key, a log file or an image name
    std::wstring name;    // value name or record text; empty for the others
    std::vector<std::wstring> properties;

    std::wstring identity() const;
    bool absent() const;
    friend bool operator==(const fact&, const fact&) = default;
};

using fact_set = std::map<std::wstring, fact>; // by identity

// A state file: UTF-8 lines of tab-separated fields, '#' starts a comment.
//   file    PATH  size=N  crc32=XXXXXXXX  readonly=yes|no   (or: absent / present)
//   folder  PATH                                            (or: absent)
//   key     ROOT\PATH                                       (or: absent)
//   value   ROOT\PATH  NAME  type=REG_SZ  data=TEXT         (or: absent)
//   link    PATH  target=PATH  workdir=PATH
//   record  LOGFILE  KIND DONE VALUE PATH                   (or: absent)
//   process IMAGE.EXE  running|absent
// %NAME% in paths is replaced by the environment variable (ProgramFiles,
// ProgramData, APPDATA, PUBLIC, TEMP ...). Throws std::runtime_error with
// the line number on a malformed line.
std::vector<fact> parse(const std::string& utf8_text);
std::string format(const std::vector<fact>& facts);

std::wstring expand(const std::wstring& text);

// The difference between what is required and what was seen, one line a
// fact: a required fact missing or different, or an absent one present.
std::vector<std::wstring> differences(const std::vector<fact>& required, const fact_set& seen);

// The difference between two complete pictures of the same places: every
// fact added, removed or changed, except those whose identity starts with
// one of `ignored` (after expansion).
std::vector<std::wstring> changes(const fact_set& before, const fact_set& after,
                                  const std::vector<std::wstring>& ignored);

// What the machine holds for each of `required`'s identities right now.
fact_set observe(const std::vector<fact>& required);

// Everything below the given folders and registry keys (ROOT\PATH), with
// the records of every Uninstall.ulog found and the target of every link.
fact_set capture(const std::vector<std::wstring>& folders, const std::vector<std::wstring>& keys);

// The places an installation of the product touches.
std::vector<std::wstring> default_folders();
std::vector<std::wstring> default_keys();

std::string to_utf8(const std::wstring& text);
std::wstring from_utf8(const std::string& text);

}
