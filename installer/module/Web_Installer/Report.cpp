#include "Report.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "BoundedString.h"
#include "Refusals.h"

static const char kPrefix[] = "QVLM: ";

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
    if (!BoundedAppend(line, kReportLineCapacity, number) || !BoundedAppend(line, kReportLineCapacity, text))
        return;
    BoundedAppend(line, kReportLineCapacity, ")");
}

void FormatReport(char* line, DWORD error, const char* format, va_list arguments)
{
    BoundedCopy(line, kReportLineCapacity, kPrefix);
    size_t used = strlen(line);
    // Room is kept for the error and the line end; a longer message is cut
    // and ends in "...".
    const size_t reserve = 400;
    const size_t room = kReportLineCapacity - used - reserve;
    int written = _vsnprintf(line + used, room, format, arguments);
    if (written < 0 || static_cast<size_t>(written) >= room) {
        line[used + room - 4] = '\0';
        BoundedAppend(line, kReportLineCapacity, "...");
    }
    if (error != 0)
        AppendError(line, error);
    BoundedAppend(line, kReportLineCapacity, "\n");
}

void Report(DWORD error, const char* format, ...)
{
    char line[kReportLineCapacity];
    va_list arguments;
    va_start(arguments, format);
    FormatReport(line, error, format, arguments);
    va_end(arguments);
    OutputDebugStringA(line);
}
