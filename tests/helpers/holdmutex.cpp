// Creates the named mutex, as a running copy of the bootstrapper would, and
// holds it for the given number of milliseconds. With "event", an event of
// that name stands in the way instead, so that no mutex of the name can be
// created at all. With "file", NAME is an existing file held open without
// sharing, as another program might hold a file the bootstrapper must replace.
//   holdmutex NAME MILLISECONDS [event|file]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    const char* kind = argc == 4 ? argv[3] : "mutex";
    HANDLE object = NULL;
    if (argc == 3)
        object = CreateMutexA(NULL, TRUE, argv[1]);
    else if (argc == 4 && strcmp(kind, "event") == 0)
        object = CreateEventA(NULL, TRUE, FALSE, argv[1]);
    else if (argc == 4 && strcmp(kind, "file") == 0)
        object = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    else
        return 2;
    if (object == NULL || object == INVALID_HANDLE_VALUE)
        return 1;
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    Sleep(strtoul(argv[2], NULL, 10));
    CloseHandle(object);
    return 0;
}
