// The current user's RunOnce key, from the shell's side.
//   runonce logon   does what the shell does at logon: takes each value out of
//                   the key (read, delete), runs it as a command line and
//                   waits for it; prints "ran <command> exit=<code>" for each
//   runonce block   puts a volatile link where the key belongs, pointing into
//                   a volatile key, so that the key can be neither opened nor
//                   created (a non-volatile key cannot live under a volatile
//                   one); gone when the prefix's server stops
#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <wchar.h>

#include "ProductNames.h"

static const char kRunOnce[] = RUNONCE_KEY;
static const wchar_t kVolatileParent[] = L"Software\\RunOnceBlocked";

static int Logon()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunOnce, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        printf("no key\n");
        return 1;
    }
    int failures = 0;
    for (;;) {
        char name[16384], command[32768];
        DWORD nameSize = sizeof(name), commandSize = sizeof(command) - 1, type = 0;
        // Always index 0: each value is deleted before the next is read.
        if (RegEnumValueA(key, 0, name, &nameSize, NULL, &type, reinterpret_cast<BYTE*>(command),
                          &commandSize) != ERROR_SUCCESS)
            break;
        command[commandSize] = '\0';
        if (RegDeleteValueA(key, name) != ERROR_SUCCESS) {
            printf("cannot delete %s\n", name);
            ++failures;
            break;
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            continue;
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof(startup));
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process;
        if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
            printf("start failed %lu: %s\n", GetLastError(), command);
            ++failures;
            continue;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        printf("ran %s exit=%lu\n", command, code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    RegCloseKey(key);
    return failures == 0 ? 0 : 1;
}

static BOOL CurrentUserSid(wchar_t** sid)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    BYTE buffer[256];
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
              ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
    CloseHandle(token);
    return ok;
}

static int Block()
{
    wchar_t* sid;
    if (!CurrentUserSid(&sid)) {
        printf("no user sid\n");
        return 1;
    }
    wchar_t target[512];
    swprintf(target, 512, L"\\Registry\\User\\%ls\\%ls\\RunOnce", sid, kVolatileParent);
    LocalFree(sid);

    HKEY parent, link;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kVolatileParent, 0, NULL, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, NULL,
                        &parent, NULL) != ERROR_SUCCESS) {
        printf("cannot create the volatile key\n");
        return 1;
    }
    RegCloseKey(parent);
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kRunOnce, 0, NULL, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &link, &disposition) != ERROR_SUCCESS ||
        disposition != REG_CREATED_NEW_KEY) {
        printf("cannot create the link (is the key there already?)\n");
        return 1;
    }
    LONG result = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target),
                                 static_cast<DWORD>(wcslen(target) * sizeof(wchar_t)));
    RegCloseKey(link);
    printf("blocked: %s\n", result == ERROR_SUCCESS ? "yes" : "no");
    return result == ERROR_SUCCESS ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 2 && lstrcmpA(argv[1], "logon") == 0)
        return Logon();
    if (argc == 2 && lstrcmpA(argv[1], "block") == 0)
        return Block();
    fprintf(stderr, "usage: runonce logon | block\n");
    return 2;
}
