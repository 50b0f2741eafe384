// A second program of the application for the synchronisation tests:
//   sync_helper hold <lock name> <ready event> <finish event>
//   sync_helper abandon <lock name> <ready event>
//   sync_helper count <counter name> <ready event> <finish event>
//   sync_helper open <file> <ready event> <finish event>
//   sync_helper lock <file> <ready event> <finish event>
// "hold" and "count" keep the lock or their counter unit until the finish
// event is set (at most 60 s); "open" keeps the file open the same way,
// sharing reading and writing but not deletion, "lock" without sharing anything; "abandon" takes the lock and ends without
// giving it back.
#include "platform/sync_objects.h"

#include <windows.h>

#include <string>

namespace {

void signal(const wchar_t* name)
{
    const kernel_handle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
    if (event)
        SetEvent(event.get());
}

bool wait_for(const wchar_t* name)
{
    const kernel_handle event(OpenEventW(SYNCHRONIZE, FALSE, name));
    return event && WaitForSingleObject(event.get(), 60000) == WAIT_OBJECT_0;
}

}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return 2;
    const std::wstring mode = argv[1];
    if (mode == L"hold" && argc == 5) {
        named_mutex lock(argv[2], false, true);
        if (!lock.try_lock())
            return 3;
        signal(argv[3]);
        return wait_for(argv[4]) ? 0 : 4;
    }
    if (mode == L"abandon") {
        named_mutex lock(argv[2], false, true);
        if (!lock.try_lock())
            return 3;
        signal(argv[3]);
        // Ends with the lock held: the system abandons the mutex.
        ExitProcess(0);
    }
    if (mode == L"count" && argc == 5) {
        instance_counter counter(argv[2]);
        if (counter.own_count() != 1)
            return 3;
        signal(argv[3]);
        return wait_for(argv[4]) ? 0 : 4;
    }
    if ((mode == L"open" || mode == L"lock") && argc == 5) {
        const DWORD sharing = mode == L"open" ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
        const kernel_handle file(CreateFileW(argv[2], GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file)
            return 3;
        signal(argv[3]);
        return wait_for(argv[4]) ? 0 : 4;
    }
    return 2;
}
