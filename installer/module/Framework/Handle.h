#pragma once

#include <windows.h>

// Closes the kernel handle it holds when it goes out of scope.
class CFileHandle {
public:
    explicit CFileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~CFileHandle() { Reset(INVALID_HANDLE_VALUE); }

    void Reset(HANDLE handle)
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = handle;
    }
    // Gives the handle up to the caller, who closes it.
    HANDLE Release()
    {
        HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }
    HANDLE Get() const { return m_handle; }
    BOOL IsValid() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    CFileHandle(const CFileHandle&);
    CFileHandle& operator=(const CFileHandle&);

    HANDLE m_handle;
};
