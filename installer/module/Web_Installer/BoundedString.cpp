#include "BoundedString.h"

#include <string.h>
#include <wchar.h>

BOOL BoundedCopy(char* dest, size_t capacity, const char* src)
{
    size_t length = strlen(src);
    if (length >= capacity)
        return FALSE;
    memcpy(dest, src, length + 1);
    return TRUE;
}

BOOL BoundedAppend(char* dest, size_t capacity, const char* src)
{
    size_t used = strnlen(dest, capacity);
    if (used == capacity)
        return FALSE;
    return BoundedCopy(dest + used, capacity - used, src);
}

BOOL BoundedCopy(WCHAR* dest, size_t capacity, const WCHAR* src)
{
    size_t length = wcslen(src);
    if (length >= capacity)
        return FALSE;
    memcpy(dest, src, (length + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL BoundedAppend(WCHAR* dest, size_t capacity, const WCHAR* src)
{
    size_t used = wcsnlen(dest, capacity);
    if (used == capacity)
        return FALSE;
    return BoundedCopy(dest + used, capacity - used, src);
}
