#include "InstallerCheck.h"

#include <wincrypt.h>
#include <string.h>

#include "Handle.h"
#include "NoFollow.h"
#include "ProductNames.h"
#include "Refusals.h"

// The SHA-256 of what `file` holds from its current position to its end,
// through the system's own cryptographic provider.
static BOOL DigestOfFile(HANDLE file, BYTE* digest)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return FALSE;
    HCRYPTHASH hash = 0;
    BOOL hashed = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
    BYTE chunk[32 * 1024];
    for (DWORD read = 1; hashed && read > 0;)
        hashed = ReadFile(file, chunk, sizeof(chunk), &read, NULL) && (read == 0 || CryptHashData(hash, chunk, read, 0));
    DWORD size = kDigestSize;
    hashed = hashed && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
    if (hashed && size != kDigestSize) {
        SetLastError(NTE_BAD_HASH);
        hashed = FALSE;
    }
    if (hash != 0)
        CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return hashed;
}

static BOOL ReadPackedDigest(HINSTANCE instance, BYTE* digest)
{
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(INSTALLER_DIGEST_RESOURCE_NAME),
                                   MAKEINTRESOURCEA(PAYLOAD_RESOURCE_TYPE));
    const void* data = NULL;
    if (resource == NULL || SizeofResource(instance, resource) != kDigestSize ||
        (data = LockResource(LoadResource(instance, resource))) == NULL) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return FALSE;
    }
    memcpy(digest, data, kDigestSize);
    return TRUE;
}

HANDLE OpenPackedInstaller(HINSTANCE instance, const CChildPath& installerPath)
{
    BYTE expected[kDigestSize];
    BYTE actual[kDigestSize];
    ULONGLONG size = 0;
    CFileHandle installer(CreateFileA(installerPath.Path(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, NULL));
    if (!installer.IsValid() || !IsRegularFileAt(installer.Get(), installerPath.FinalPath(), &size) ||
        !ReadPackedDigest(instance, expected) || !DigestOfFile(installer.Get(), actual))
        return INVALID_HANDLE_VALUE;
    if (memcmp(expected, actual, kDigestSize) != 0) {
        SetLastError(kRefusedDigest);
        return INVALID_HANDLE_VALUE;
    }
    return installer.Release();
}
