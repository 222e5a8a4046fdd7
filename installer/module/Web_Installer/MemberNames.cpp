#include "MemberNames.h"

#include <string.h>

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
