#pragma once

#include <windows.h>

#include <aclapi.h>

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
// The file system flags of the volume `file` lies on, and its owner (which
// the caller frees with LocalFree), or those of a volume the tests'
// platform cannot show.
BOOL TestSeamVolumeFlags(HANDLE file, DWORD* flags);
DWORD TestSeamOwner(HANDLE file, PSECURITY_DESCRIPTOR* descriptor);
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
inline BOOL TestSeamVolumeFlags(HANDLE file, DWORD* flags)
{
    return GetVolumeInformationByHandleW(file, NULL, 0, NULL, NULL, flags, NULL, 0);
}
inline DWORD TestSeamOwner(HANDLE file, PSECURITY_DESCRIPTOR* descriptor)
{
    return GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, NULL, NULL, NULL, NULL, descriptor);
}
#endif
