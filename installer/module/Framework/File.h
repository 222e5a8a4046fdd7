#pragma once

#include <windows.h>

class CFileException {
public:
    explicit CFileException(DWORD error) : m_error(error) {}
    DWORD m_error;
};

// A file opened for writing. Write throws CFileException when a system call
// fails or writes fewer bytes than asked; the handle is closed by Close or,
// on any other road, by the destructor.
const DWORD kMaxWritePiece = 8 * 1024 * 1024;

class CFile {
public:
    CFile();
    ~CFile();

    // Creates a new file: write-only, no sharing, normal attributes. Whatever
    // stands at `path` already, a link included, makes it fail: it is never
    // truncated nor written through. Paths of MAX_PATH bytes or more are
    // refused.
    BOOL Create(const char* path);
    // Hands the system at most kMaxWritePiece bytes per call: a single write
    // of many megabytes can fail on 32-bit Windows for lack of kernel
    // resources.
    void Write(const void* data, DWORD count);
    BOOL Close();

private:
    CFile(const CFile&);
    CFile& operator=(const CFile&);

    HANDLE m_hFile;
};
