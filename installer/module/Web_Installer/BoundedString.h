#pragma once

#include <stddef.h>
#include <windows.h>

// Copy or append into a fixed buffer of `capacity` bytes. On overflow the
// destination is left as it was and FALSE is returned; the result is always
// zero-terminated on success.
BOOL BoundedCopy(char* dest, size_t capacity, const char* src);
BOOL BoundedAppend(char* dest, size_t capacity, const char* src);
// The same for UTF-16 text, `capacity` counted in characters.
BOOL BoundedCopy(WCHAR* dest, size_t capacity, const WCHAR* src);
BOOL BoundedAppend(WCHAR* dest, size_t capacity, const WCHAR* src);
