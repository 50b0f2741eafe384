#include "engine/uninstall_registration.h"

#include <exception>

#include "identity/product.h"
#include "platform/registry.h"
#include "records/backup.h"
#include "records/uninstall_log.h"

bool register_uninstall_entry(uninstall_log& log, const std::wstring& program_path,
                              const std::wstring& uninstaller_path, language_index language)
{
    try {
        reg_key uninstall = open_key(registry_root::local_machine, uninstall_list_key);
        if (!uninstall)
            return false;

        std::wstring key_name = product_key_name();
        // An entry this account may not change must fail the step here, before
        // anything is recorded, not open read-only and fail every write.
        reg_key entry = open_key_for_writing(uninstall, key_name.c_str());
        if (entry) {
            log.add_uninstall_key(entry);
        }
        else {
            log.add_uninstall_key(reg_key{});
            entry = create_key(uninstall, key_name.c_str());
        }

        bool ok = write_uninstall_values(
            entry, uninstall_values(program_path, uninstaller_path, language));
        log.commit(ok);
        return ok;
    }
    catch (const std::exception&) {
        return false;
    }
}
