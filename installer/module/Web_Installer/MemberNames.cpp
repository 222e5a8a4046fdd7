#include "MemberNames.h"

#include <string.h>
#include <wchar.h>

#include "CodePage.h"
#include "PathText.h"
#include "Refusals.h"

static BOOL Refuse(DWORD reason)
{
    SetLastError(reason);
    return FALSE;
}

static char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

static BOOL StartsWith(const char* start, size_t length, const char* prefix)
{
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i == length || Upper(start[i]) != prefix[i])
            return FALSE;
    }
    return TRUE;
}

static BOOL IsExactly(const char* start, size_t length, const char* name)
{
    return strlen(name) == length && StartsWith(start, length, name);
}

// The port number of COM<n> and LPT<n>: one digit, or a superscript one, two
// or three as the code page spells it (bytes B9, B2, B3 in 1252, while in
// 932 those bytes are katakana).
static BOOL IsPortNumber(const char* start, size_t length, UINT codePage)
{
    WCHAR wide[2] = {0};
    if (MultiByteToWideChar(codePage, WideningFlags(codePage), start, static_cast<int>(length), wide, 2) != 1)
        return FALSE;
    return (wide[0] >= L'0' && wide[0] <= L'9') || wide[0] == 0x00B9 || wide[0] == 0x00B2 || wide[0] == 0x00B3;
}

// Reserved device names (CON, NUL, COM1, CONIN$, ...), with or without an
// extension: a file of that name in any folder opens the device instead.
static BOOL IsDeviceName(const char* start, size_t length, UINT codePage)
{
    size_t stem = 0;
    while (stem < length && start[stem] != '.')
        ++stem;
    while (stem > 0 && start[stem - 1] == ' ')
        --stem;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (size_t i = 0; i < sizeof(devices) / sizeof(devices[0]); ++i) {
        if (IsExactly(start, stem, devices[i]))
            return TRUE;
    }
    return stem > 3 && (StartsWith(start, stem, "COM") || StartsWith(start, stem, "LPT")) &&
           IsPortNumber(start + 3, stem - 3, codePage);
}

// A character no Windows file name holds: a colon (a drive or a stream), a
// forward slash (another separator), the wildcards and redirections
// <>"|?*, and the control characters. Only single-byte characters and lead
// bytes reach here, so a trail byte of one of these codes is not one.
static BOOL IsForbiddenCharacter(char c)
{
    return c != '\0' && (static_cast<BYTE>(c) < 0x20 || strchr(":/<>\"|?*", c) != NULL);
}

BOOL IsSafeMemberName(const char* name, UINT codePage)
{
    const char* componentStart = name;
    const char* lastChar = NULL;
    for (const char* p = name;; p = NextChar(p, codePage)) {
        if (IsForbiddenCharacter(*p))
            return Refuse(kRefusedNameCharacter);
        if (*p == '\\' || *p == '\0') {
            size_t length = static_cast<size_t>(p - componentStart);
            // Windows strips a final dot or space, so such a component would
            // name another file than the cabinet does.
            if (length == 0)
                return Refuse(kRefusedNameEmpty);
            if (*lastChar == '.' || *lastChar == ' ')
                return Refuse(kRefusedNameEnd);
            if (IsDeviceName(componentStart, length, codePage))
                return Refuse(kRefusedNameDevice);
            if (*p == '\0')
                return TRUE;
            componentStart = p + 1;
        }
        lastChar = p;
    }
}

CSeenNames::~CSeenNames()
{
    for (DWORD i = 0; i < m_capacity; ++i) {
        if (m_slots[i].name != NULL)
            HeapFree(GetProcessHeap(), 0, m_slots[i].name);
    }
    if (m_slots != NULL)
        HeapFree(GetProcessHeap(), 0, m_slots);
}

// The empty slot for `name`, or the one that holds it. The table is never
// more than half full.
CSeenNames::Slot* CSeenNames::Find(const WCHAR* name, DWORD hash) const
{
    for (DWORD i = hash & (m_capacity - 1);; i = (i + 1) & (m_capacity - 1)) {
        Slot* slot = &m_slots[i];
        if (slot->name == NULL || (slot->hash == hash && wcscmp(slot->name, name) == 0))
            return slot;
    }
}

BOOL CSeenNames::Grow()
{
    DWORD capacity = m_capacity == 0 ? 256 : m_capacity * 2;
    Slot* old = m_slots;
    DWORD oldCapacity = m_capacity;
    m_slots = static_cast<Slot*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * sizeof(Slot)));
    if (m_slots == NULL) {
        m_slots = old;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    m_capacity = capacity;
    for (DWORD i = 0; i < oldCapacity; ++i) {
        if (old[i].name != NULL)
            *Find(old[i].name, old[i].hash) = old[i];
    }
    if (old != NULL)
        HeapFree(GetProcessHeap(), 0, old);
    return TRUE;
}

BOOL CSeenNames::Add(const char* name)
{
    // Upper case as the file system folds names: the same for every locale.
    CWidePathText wide;
    WCHAR folded[MAX_PATH];
    if (!WidenExactly(CP_ACP, name, wide.Buffer(), static_cast<int>(wide.GetCapacity())))
        return FALSE;
    int length = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide, -1, folded, MAX_PATH);
    if (length == 0)
        return FALSE;
    DWORD hash = 2166136261u;
    for (const WCHAR* c = folded; *c != L'\0'; ++c)
        hash = (hash ^ *c) * 16777619u;
    if ((m_count + 1) * 2 > m_capacity && !Grow())
        return FALSE;
    Slot* slot = Find(folded, hash);
    if (slot->name != NULL)
        return Refuse(kRefusedNameTwice);
    SIZE_T bytes = static_cast<SIZE_T>(length) * sizeof(WCHAR);
    slot->name = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (slot->name == NULL)
        return Refuse(ERROR_NOT_ENOUGH_MEMORY);
    memcpy(slot->name, folded, bytes);
    slot->hash = hash;
    ++m_count;
    return TRUE;
}
