#include "Report.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "BoundedString.h"
#include "Refusals.h"

static const char kPrefix[] = "QVLM: ";
const size_t kLineCapacity = 2048;

// "error N (meaning)": the program's own meaning, or the system's message.
static void AppendError(char* line, DWORD error)
{
    char text[256] = "";
    const char* meaning = RefusalMeaning(error);
    if (meaning != NULL) {
        BoundedCopy(text, sizeof(text), meaning);
    } else {
        DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                          FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                      NULL, error, 0, text, sizeof(text), NULL);
        while (length > 0 && length < sizeof(text) && (text[length - 1] == ' ' || text[length - 1] == '.'))
            text[--length] = '\0';
        if (length == 0 || length >= sizeof(text))
            BoundedCopy(text, sizeof(text), "no message");
    }
    char number[32];
    _snprintf(number, sizeof(number) - 1, (error & 0x20000000) ? ": error 0x%08lX (" : ": error %lu (", error);
    number[sizeof(number) - 1] = '\0';
    if (!BoundedAppend(line, kLineCapacity, number) || !BoundedAppend(line, kLineCapacity, text))
        return;
    BoundedAppend(line, kLineCapacity, ")");
}

void Report(DWORD error, const char* format, ...)
{
    char line[kLineCapacity];
    BoundedCopy(line, kLineCapacity, kPrefix);
    size_t used = strlen(line);
    // Room is kept for the error and the line end; a longer line is cut.
    const size_t reserve = 400;
    va_list arguments;
    va_start(arguments, format);
    int written = _vsnprintf(line + used, kLineCapacity - used - reserve, format, arguments);
    va_end(arguments);
    if (written < 0 || static_cast<size_t>(written) >= kLineCapacity - used - reserve) {
        line[kLineCapacity - reserve - 4] = '\0';
        BoundedAppend(line, kLineCapacity, "...");
    }
    if (error != 0)
        AppendError(line, error);
    BoundedAppend(line, kLineCapacity, "\n");
    OutputDebugStringA(line);
}
