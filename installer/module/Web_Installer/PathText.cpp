#include "PathText.h"

#include <wchar.h>

#include "BoundedString.h"
#include "CodePage.h"

const char* NextChar(const char* p, UINT codePage)
{
    if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(*p)) && p[1] != '\0')
        return p + 2;
    return p + 1;
}

const char* FindLastBackslash(const char* path, UINT codePage)
{
    const char* last = NULL;
    for (const char* p = path; *p != '\0'; p = NextChar(p, codePage)) {
        if (*p == '\\')
            last = p;
    }
    return last;
}

BOOL IsSameFinalPath(const WCHAR* a, const WCHAR* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

BOOL JoinFinalPath(WCHAR* out, const WCHAR* folderFinal, const WCHAR* name)
{
    size_t length = wcslen(folderFinal);
    BOOL atRoot = length > 0 && folderFinal[length - 1] == L'\\';
    return BoundedCopy(out, kFinalPathCapacity, folderFinal) &&
           (atRoot || BoundedAppend(out, kFinalPathCapacity, L"\\")) && BoundedAppend(out, kFinalPathCapacity, name);
}

BOOL JoinFinalPath(WCHAR* out, const WCHAR* folderFinal, const char* name)
{
    WCHAR wide[MAX_PATH];
    return WidenExactly(CP_ACP, name, wide, MAX_PATH) && JoinFinalPath(out, folderFinal, wide);
}
