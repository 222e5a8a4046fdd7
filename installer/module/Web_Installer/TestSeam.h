#pragma once

#include <windows.h>

// A named point in a run where a test build can change what the run finds
// next, e.g. a file altered by another program right after it was written.
// Compiled away unless WEB_INSTALLER_TEST_SEAMS is defined, which only the
// tests' own build of the bootstrapper does.
#ifdef WEB_INSTALLER_TEST_SEAMS
void TestSeam(const char* point, const char* path);
// The size of the next piece of a write, `piece` or less.
DWORD TestSeamPiece(DWORD piece);
// How many pieces TestSeamPiece has sized while its seam was set.
LONG TestSeamPieces();
// GetFinalPathNameByHandleW, or a volume the tests' platform cannot show.
DWORD TestSeamFinalPath(HANDLE file, WCHAR* path, DWORD capacity, DWORD flags);
#else
inline void TestSeam(const char*, const char*) {}
inline DWORD TestSeamPiece(DWORD piece)
{
    return piece;
}
inline DWORD TestSeamFinalPath(HANDLE file, WCHAR* path, DWORD capacity, DWORD flags)
{
    return GetFinalPathNameByHandleW(file, path, capacity, flags);
}
#endif
