#include "BoundedString.h"

#include <string.h>

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
