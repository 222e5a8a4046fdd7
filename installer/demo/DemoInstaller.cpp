// Stand-in for the product installer: no window; it records that it ran in
// "installer-ran.txt" beside itself and exits.
#include <windows.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    char* slash = strrchr(path, '\\');
    const char name[] = "installer-ran.txt";
    if (slash == NULL || static_cast<size_t>(slash + 1 - path) + sizeof(name) > MAX_PATH)
        return 1;
    memcpy(slash + 1, name, sizeof(name));

    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const char text[] = "the demo installer ran\r\n";
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, sizeof(text) - 1, &written, NULL);
    CloseHandle(file);
    return ok ? 0 : 1;
}
