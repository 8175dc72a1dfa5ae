// Child of the crash tests: opens the database under the store's key, runs a
// transaction that spills pages into the file through a tiny page cache,
// reports through the named event that it is inside the transaction, and
// waits to be killed. Usage: settings_crash_child DB-PATH EVENT-NAME
#include <windows.h>

#include "reference.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    reftest::RawDb db(argv[1], reftest::StoreKeyBytes());
    if (db.Exec("PRAGMA cache_size=10; BEGIN; UPDATE t SET v = v || hex(randomblob(40))") != SQLITE_OK) return 1;
    HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!ready || !::SetEvent(ready)) return 1;
    ::Sleep(INFINITE);
    return 0;
}
