#include "File.h"

#include <string.h>

#include "TestSeam.h"

CFile::CFile() : m_hFile(INVALID_HANDLE_VALUE) {}

CFile::~CFile()
{
    Close();
}

BOOL CFile::Create(const char* path)
{
    if (m_hFile != INVALID_HANDLE_VALUE || path == NULL || strlen(path) >= MAX_PATH) {
        SetLastError(m_hFile != INVALID_HANDLE_VALUE ? ERROR_ALREADY_INITIALIZED : ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    m_hFile = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                          NULL);
    return m_hFile != INVALID_HANDLE_VALUE;
}

void CFile::Write(const void* data, DWORD count)
{
    const BYTE* next = static_cast<const BYTE*>(data);
    while (count > 0) {
        DWORD piece = TestSeamPiece(count < kMaxWritePiece ? count : kMaxWritePiece);
        DWORD written = 0;
        if (!WriteFile(m_hFile, next, piece, &written, NULL))
            throw CFileException(GetLastError());
        if (written != piece)
            throw CFileException(ERROR_WRITE_FAULT);
        next += piece;
        count -= piece;
    }
}

BOOL CFile::Close()
{
    if (m_hFile == INVALID_HANDLE_VALUE)
        return TRUE;
    BOOL closed = CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    return closed;
}
