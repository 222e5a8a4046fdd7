#pragma once

#include <windows.h>

// The program's own reasons for refusing something, passed on as last
// errors like the system's. Bit 29 marks an error code as an application's.
const DWORD kRefusedLink = 0x20000001;
const DWORD kRefusedNotFolder = 0x20000002;
const DWORD kRefusedFolder = 0x20000003;
const DWORD kRefusedElsewhere = 0x20000004;
const DWORD kRefusedOwner = 0x20000005;
const DWORD kRefusedOtherNames = 0x20000006;
const DWORD kRefusedSize = 0x20000007;
const DWORD kRefusedDigest = 0x20000008;
const DWORD kRefusedNameEmpty = 0x20000009;
const DWORD kRefusedNameEnd = 0x2000000A;
const DWORD kRefusedNameDevice = 0x2000000B;
const DWORD kRefusedNameCharacter = 0x2000000C;
const DWORD kRefusedSet = 0x2000000D;
const DWORD kRefusedOrder = 0x2000000E;
const DWORD kRefusedPending = 0x2000000F;
const DWORD kRefusedNameTwice = 0x20000010;

// What one of the codes above means, or NULL for any other code.
const char* RefusalMeaning(DWORD code);
