#pragma once

#include <windows.h>

// A narrow (ANSI code page) string on the process heap. Formatting reports
// failure instead of leaving a half-built value behind: the string is then
// left as it was.
class CString {
public:
    CString();
    CString(const char* text);
    CString(const CString& other);
    CString& operator=(const CString& other);
    ~CString();

    BOOL Format(const char* format, ...);

    const char* GetString() const { return m_data != NULL ? m_data : ""; }
    operator const char*() const { return GetString(); }
    size_t GetLength() const { return m_length; }
    BOOL IsEmpty() const { return m_length == 0; }

private:
    BOOL Assign(const char* text, size_t length);
    void Release();

    char* m_data;
    size_t m_length;
};
