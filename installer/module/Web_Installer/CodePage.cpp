#include "CodePage.h"

#include <string.h>
#include <wchar.h>

// The code pages that take no conversion flags at all (ISO-2022, ISCII,
// UTF-7, Symbol), and the two that take only the invalid-character flag.
static BOOL TakesNoFlags(UINT codePage)
{
    return codePage == 42 || codePage == CP_UTF7 || (codePage >= 50220 && codePage <= 50229) ||
           (codePage >= 57002 && codePage <= 57011);
}

static BOOL TakesOnlyInvalidCharFlag(UINT codePage)
{
    return codePage == CP_UTF8 || codePage == 54936;
}

DWORD WideningFlags(UINT codePage)
{
    return TakesNoFlags(codePage) ? 0 : MB_ERR_INVALID_CHARS;
}

DWORD NarrowingFlags(UINT codePage, BOOL* reportsDefault)
{
    *reportsDefault = !TakesNoFlags(codePage) && !TakesOnlyInvalidCharFlag(codePage);
    if (TakesNoFlags(codePage))
        return 0;
    return TakesOnlyInvalidCharFlag(codePage) ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
}

static int Widen(UINT codePage, const char* text, int length, WCHAR* out, int capacity)
{
    return MultiByteToWideChar(codePage, WideningFlags(codePage), text, length, out, capacity);
}

// The length written, 0 on failure; `*inexact` is TRUE where the code page's
// own report says a default character stands in.
static int Narrow(UINT codePage, const WCHAR* text, int length, char* out, int capacity, BOOL* inexact)
{
    BOOL reportsDefault = FALSE;
    DWORD flags = NarrowingFlags(codePage, &reportsDefault);
    *inexact = FALSE;
    return WideCharToMultiByte(codePage, flags, text, length, out, capacity, NULL, reportsDefault ? inexact : NULL);
}

static BOOL Refuse()
{
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return FALSE;
}

BOOL WidenExactly(UINT codePage, const char* text, WCHAR* out, int capacity)
{
    // The lengths returned here count the terminating zero.
    if (Widen(codePage, text, -1, out, capacity) == 0)
        return FALSE;
    char back[1024];
    BOOL inexact = FALSE;
    if (Narrow(codePage, out, -1, back, sizeof(back), &inexact) == 0 || inexact || strcmp(back, text) != 0)
        return Refuse();
    return TRUE;
}

BOOL NarrowExactly(UINT codePage, const WCHAR* text, char* out, int capacity)
{
    BOOL inexact = FALSE;
    if (Narrow(codePage, text, -1, out, capacity, &inexact) == 0) {
        // Shown as the code page shows it when asked without flags.
        if (WideCharToMultiByte(codePage, 0, text, -1, out, capacity, NULL, NULL) == 0)
            out[0] = '\0';
        return Refuse();
    }
    WCHAR back[1024];
    if (inexact || Widen(codePage, out, -1, back, sizeof(back) / sizeof(back[0])) == 0 || wcscmp(back, text) != 0)
        return Refuse();
    return TRUE;
}
