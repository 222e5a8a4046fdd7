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
// SetFileInformationByHandle for a deletion, recorded: what a platform that
// accepts every disposition hides.
BOOL TestSeamDisposition(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size);
struct TestSeamDispositionAsked {
    FILE_INFO_BY_HANDLE_CLASS kind;
    DWORD flags;  // the Ex class's flags, or the classic class's DeleteFile
    BOOL done;
};
// How many dispositions TestSeamDisposition was asked for, and the one of
// each number (from 0) that it still keeps (the last few).
LONG TestSeamDispositions();
TestSeamDispositionAsked TestSeamDispositionAt(LONG number);
// CreateFileW of an existing object, or, as Windows answers,
// ERROR_ACCESS_DENIED for a file whose deletion this process asked for and
// whose name still exists.
HANDLE TestSeamOpenExisting(const WCHAR* path, DWORD access, DWORD share, DWORD flags);
// GetProcAddress, or for GetTempPath2A, which the tests' platform lacks, a
// stand-in that names the folder the setting "temp-path-2:<folder>" gives.
FARPROC TestSeamProcedure(HMODULE module, const char* name);
#else
inline void TestSeam(const char*, const char*) {}
inline FARPROC TestSeamProcedure(HMODULE module, const char* name)
{
    return GetProcAddress(module, name);
}
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
inline BOOL TestSeamDisposition(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size)
{
    return SetFileInformationByHandle(file, kind, info, size);
}
inline HANDLE TestSeamOpenExisting(const WCHAR* path, DWORD access, DWORD share, DWORD flags)
{
    return CreateFileW(path, access, share, NULL, OPEN_EXISTING, flags, NULL);
}
#endif
