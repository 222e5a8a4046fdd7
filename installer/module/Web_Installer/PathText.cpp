#include "PathText.h"

#include <string.h>
#include <wchar.h>

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

template <typename Path, typename Char>
static BOOL Join(Path* out, const Char* folder, BOOL endsInBackslash, const Char* name)
{
    static const Char kBackslash[] = {'\\', 0};
    Path joined;
    if (!joined.Assign(folder) || (!endsInBackslash && !joined.Append(kBackslash)) || !joined.Append(name))
        return FALSE;
    *out = joined;
    return TRUE;
}

static BOOL EndsInBackslash(const WCHAR* folder)
{
    size_t length = wcslen(folder);
    return length > 0 && folder[length - 1] == L'\\';
}

BOOL JoinPath(CPathText* out, const char* folder, const char* name)
{
    const char* last = FindLastBackslash(folder, CP_ACP);
    return Join(out, folder, last != NULL && last[1] == '\0', name);
}

BOOL JoinPath(CWidePathText* out, const WCHAR* folder, const WCHAR* name)
{
    return Join(out, folder, EndsInBackslash(folder), name);
}

BOOL JoinFinalPath(CFinalPath* out, const WCHAR* folderFinal, const WCHAR* name)
{
    return Join(out, folderFinal, EndsInBackslash(folderFinal), name);
}

BOOL JoinFinalPath(CFinalPath* out, const WCHAR* folderFinal, const char* name)
{
    WCHAR wide[MAX_PATH];
    return WidenExactly(CP_ACP, name, wide, MAX_PATH) && JoinFinalPath(out, folderFinal, wide);
}

BOOL IsSameFinalPath(const WCHAR* a, const WCHAR* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

BOOL IsSamePath(const char* a, const char* b)
{
    WCHAR wideA[MAX_PATH];
    WCHAR wideB[MAX_PATH];
    return WidenExactly(CP_ACP, a, wideA, MAX_PATH) && WidenExactly(CP_ACP, b, wideB, MAX_PATH) &&
           IsSameFinalPath(wideA, wideB);
}
