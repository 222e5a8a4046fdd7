#pragma once

#include <windows.h>

#include "Handle.h"
#include "PathText.h"

// A path inside a held folder: its text, and the final path the object
// there must have, which the folder's own final path gives.
class CChildPath {
public:
    const char* Path() const { return m_path; }
    const WCHAR* FinalPath() const { return m_finalPath; }

private:
    friend class CHeldFolder;

    CPathText m_path;
    CFinalPath m_finalPath;
};

// A folder held open without delete sharing, so that while it is held it
// cannot be removed, renamed or swapped for a link, together with the path
// it was opened by and its final path.
class CHeldFolder {
public:
    CHeldFolder() {}

    // Holds the real folder at `path`, not a link (see OpenRealFolder);
    // when `expectedFinal` is not NULL, its final path must be that one.
    BOOL OpenReal(const char* path, const WCHAR* expectedFinal, DWORD extraAccess = 0);
    // Holds the folder at `path` wherever links lead: for a folder whose
    // place the system, not this program, decides.
    BOOL OpenResolved(const char* path);
    // Holds the folder `created` is open on, a folder this process has just
    // created at `path`, whose final path must be `expectedFinal`.
    BOOL Adopt(HANDLE created, const char* path, const WCHAR* expectedFinal);
    void Close();

    // The one way to name what lies inside: `name` (one component or a
    // relative path) as path text and as the final path it must have.
    BOOL Child(const char* name, CChildPath* child) const;

    BOOL IsHeld() const { return m_handle.IsValid(); }
    HANDLE Handle() const { return m_handle.Get(); }
    const char* Path() const { return m_path; }
    const WCHAR* FinalPath() const { return m_finalPath; }

private:
    CHeldFolder(const CHeldFolder&);
    CHeldFolder& operator=(const CHeldFolder&);

    BOOL Hold(HANDLE handle, const char* path);

    CFileHandle m_handle;
    CPathText m_path;
    CFinalPath m_finalPath;
};
