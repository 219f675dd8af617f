#include "hive/hive_copy.h"

#include "hive/hive_bytes.h"
#include "hive/kept_memory.h"
#include "shared/file_copy.h"
#include "shared/owned_handle.h"

DWORD CopyHiveFile(const wchar_t* source, const wchar_t* destination) {
    if (!TakeKeptMemory()) return CopyFileBytes(source, destination);
    BYTE* arena = KeptBuffer(true, KeptArena, HiveArenaBytes);
    size_t held = 0;
    const DWORD error = CopyFileBytesHolding(source, destination, arena,
                                             arena ? HiveArenaBytes : 0, &held);
    if (error == ERROR_SUCCESS && held > 0) {
        // The file as it stands once closed: a file system may set its last
        // written time only then.
        FileHandle copy(CreateFileW(destination, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        HeldFile identity;
        if (copy && IdentifyFile(copy.get(), &identity)) HoldFile(identity, held);
    }
    ReturnKeptMemory();
    return error;
}
