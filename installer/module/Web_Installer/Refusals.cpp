#include "Refusals.h"

static const struct {
    DWORD code;
    const char* meaning;
} kRefusals[] = {
    {kRefusedLink, "a link or junction"},
    {kRefusedNotFolder, "not a folder"},
    {kRefusedFolder, "a folder stands there"},
    {kRefusedElsewhere, "its final path is not where its path says"},
    {kRefusedOwner, "owned by another account, which could change its protection"},
    {kRefusedOtherNames, "a read-only file with other names (hard links)"},
    {kRefusedSize, "not the size the cabinet declares"},
    {kRefusedDigest, "not the installer that was packed: its SHA-256 differs"},
    {kRefusedNameEmpty, "the name has an empty component"},
    {kRefusedNameEnd, "a name component ends in a dot or a space"},
    {kRefusedNameDevice, "a name component is a device name"},
    {kRefusedNameCharacter,
     "the name has a character no Windows file name can hold: a colon, a slash, one of <>\"|?* or a control character"},
    {kRefusedSet, "the cabinet continues in another cabinet"},
    {kRefusedOrder, "reported out of turn"},
    {kRefusedNameTwice, "the cabinet names this member more than once"},
    {kRefusedPending, "deleted, but another program still holds it open, so its name stays until that program closes it"},
};

const char* RefusalMeaning(DWORD code)
{
    for (size_t i = 0; i < sizeof(kRefusals) / sizeof(kRefusals[0]); ++i) {
        if (kRefusals[i].code == code)
            return kRefusals[i].meaning;
    }
    return NULL;
}
