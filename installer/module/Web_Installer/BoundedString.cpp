#include "BoundedString.h"

#include <string.h>
#include <wchar.h>

static size_t Length(const char* text, size_t limit) { return strnlen(text, limit); }
static size_t Length(const WCHAR* text, size_t limit) { return wcsnlen(text, limit); }

template <typename Char>
static BOOL Copy(Char* dest, size_t capacity, const Char* src)
{
    size_t length = Length(src, capacity);
    if (length >= capacity)
        return FALSE;
    memcpy(dest, src, (length + 1) * sizeof(Char));
    return TRUE;
}

template <typename Char>
static BOOL Append(Char* dest, size_t capacity, const Char* src)
{
    size_t used = Length(dest, capacity);
    if (used == capacity)
        return FALSE;
    return Copy(dest + used, capacity - used, src);
}

BOOL BoundedCopy(char* dest, size_t capacity, const char* src) { return Copy(dest, capacity, src); }
BOOL BoundedAppend(char* dest, size_t capacity, const char* src) { return Append(dest, capacity, src); }
BOOL BoundedCopy(WCHAR* dest, size_t capacity, const WCHAR* src) { return Copy(dest, capacity, src); }
BOOL BoundedAppend(WCHAR* dest, size_t capacity, const WCHAR* src) { return Append(dest, capacity, src); }
