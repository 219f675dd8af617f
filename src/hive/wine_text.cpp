#include "hive/wine_text.h"

#include <string.h>

#include "shared/system_entry.h"

namespace {

constexpr char Header[] = "WINE REGISTRY Version 2";

}  // namespace

bool IsWineTextHeader(const BYTE* bytes, size_t count) {
    const size_t length = sizeof(Header) - 1;
    if (count < length + 1 || memcmp(bytes, Header, length) != 0) return false;
    if (bytes[length] == '\n') return true;
    return count >= length + 2 && bytes[length] == '\r' && bytes[length + 1] == '\n';
}
