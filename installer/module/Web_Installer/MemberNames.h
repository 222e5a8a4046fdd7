#pragma once

#include <windows.h>

// TRUE when `name`, a member name in the ANSI code page `codePage`, is a
// relative path that cannot leave the folder it is expanded into and lands
// where it says: backslash-separated components, none empty, none ending in
// a dot or a space (so no "." or ".."), none a reserved device name (NUL,
// COM1.txt, CONIN$, ...), and no character a Windows file name cannot hold
// (a colon, a forward slash, one of <>"|?* or a control character). When
// FALSE, the last error says which rule the name broke.
BOOL IsSafeMemberName(const char* name, UINT codePage);

// The member names an expansion has handed out, so that a cabinet that names
// one file twice is refused before its second copy is written over the
// first. Names are compared as the file system compares them, ignoring case.
class CSeenNames {
public:
    CSeenNames() : m_slots(NULL), m_capacity(0), m_count(0) {}
    ~CSeenNames();

    // TRUE the first time `name` (in the ANSI code page) comes; FALSE when
    // it came before (kRefusedNameTwice) or cannot be kept.
    BOOL Add(const char* name);

private:
    CSeenNames(const CSeenNames&);
    CSeenNames& operator=(const CSeenNames&);

    struct Slot {
        DWORD hash;
        WCHAR* name;
    };
    BOOL Grow();
    Slot* Find(const WCHAR* name, DWORD hash) const;

    Slot* m_slots;
    DWORD m_capacity;
    DWORD m_count;
};
