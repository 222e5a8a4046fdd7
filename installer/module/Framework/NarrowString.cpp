#include "NarrowString.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

CString::CString() : m_data(NULL), m_length(0) {}

CString::CString(const char* text) : m_data(NULL), m_length(0)
{
    if (text != NULL)
        Assign(text, strlen(text));
}

CString::CString(const CString& other) : m_data(NULL), m_length(0)
{
    Assign(other.GetString(), other.m_length);
}

CString& CString::operator=(const CString& other)
{
    if (this != &other)
        Assign(other.GetString(), other.m_length);
    return *this;
}

CString::~CString()
{
    Release();
}

BOOL CString::Assign(const char* text, size_t length)
{
    char* data = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 1));
    if (data == NULL)
        return FALSE;
    memcpy(data, text, length);
    data[length] = '\0';
    Release();
    m_data = data;
    m_length = length;
    return TRUE;
}

void CString::Release()
{
    if (m_data != NULL)
        HeapFree(GetProcessHeap(), 0, m_data);
    m_data = NULL;
    m_length = 0;
}

BOOL CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int needed = _vscprintf(format, args);
    va_end(args);
    if (needed < 0)
        return FALSE;

    char* data = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<size_t>(needed) + 1));
    if (data == NULL)
        return FALSE;
    va_start(args, format);
    int written = _vsnprintf(data, static_cast<size_t>(needed) + 1, format, args);
    va_end(args);
    if (written != needed) {
        HeapFree(GetProcessHeap(), 0, data);
        return FALSE;
    }
    Release();
    m_data = data;
    m_length = static_cast<size_t>(needed);
    return TRUE;
}
