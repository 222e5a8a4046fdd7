#pragma once

#include <windows.h>

#include "BoundedString.h"

// Path text: paths in the ANSI code page, whose double-byte characters may
// carry the backslash code (0x5C) as their trail byte, so that every scan
// steps over whole characters; and final paths, in UTF-16.

// Room for a final path ("\\Device\\HarddiskVolume2\\...": the volume's NT
// name, which every volume has) in UTF-16 characters, which can be longer
// than the path it was opened by when that one holds short (8.3) names.
const DWORD kFinalPathCapacity = 1024;

// A path in a buffer of its own fixed capacity. Text that does not fit
// leaves it as it was: FALSE, with ERROR_FILENAME_EXCED_RANGE as the last
// error.
template <typename Char, size_t Capacity>
class CBoundedPath {
public:
    CBoundedPath() { m_text[0] = 0; }

    BOOL Assign(const Char* text) { return Fits(BoundedCopy(m_text, Capacity, text)); }
    BOOL Append(const Char* text) { return Fits(BoundedAppend(m_text, Capacity, text)); }
    void Clear() { m_text[0] = 0; }

    const Char* Get() const { return m_text; }
    operator const Char*() const { return m_text; }
    BOOL IsEmpty() const { return m_text[0] == 0; }

    // For a system call that fills the buffer: it holds `Capacity`
    // characters, the terminating zero included.
    Char* Buffer() { return m_text; }
    static size_t GetCapacity() { return Capacity; }

private:
    static BOOL Fits(BOOL fits)
    {
        if (!fits)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return fits;
    }

    Char m_text[Capacity];
};

// A path as the ANSI functions take it: at most 259 bytes.
typedef CBoundedPath<char, MAX_PATH> CPathText;
typedef CBoundedPath<WCHAR, MAX_PATH> CWidePathText;
typedef CBoundedPath<WCHAR, kFinalPathCapacity> CFinalPath;

// The character after the one at `p` in code page `codePage`.
const char* NextChar(const char* p, UINT codePage);

// The last backslash of `path`, or NULL.
const char* FindLastBackslash(const char* path, UINT codePage);

// `name` in the folder `folder`, into `out`: one backslash between them,
// none added where the folder already ends in one (a volume's root). Narrow
// text is in the ANSI code page.
BOOL JoinPath(CPathText* out, const char* folder, const char* name);
BOOL JoinPath(CWidePathText* out, const WCHAR* folder, const WCHAR* name);
// The same for a final path; a narrow `name` must be spelled exactly in
// UTF-16 (ERROR_NO_UNICODE_TRANSLATION otherwise).
BOOL JoinFinalPath(CFinalPath* out, const WCHAR* folderFinal, const char* name);
BOOL JoinFinalPath(CFinalPath* out, const WCHAR* folderFinal, const WCHAR* name);

// TRUE when two paths name the same object as the file system compares
// names: ordinally, ignoring case, not by the user's locale. Narrow paths
// are compared as the ANSI code page spells them in UTF-16.
BOOL IsSameFinalPath(const WCHAR* a, const WCHAR* b);
BOOL IsSamePath(const char* a, const char* b);
