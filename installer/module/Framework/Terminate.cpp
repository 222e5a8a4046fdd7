// Replaces the C++ runtime's verbose terminate handler, which demangles the
// type of an uncaught exception and prints it. That handler brings in a
// demangler and printf engine (about 60 KB) and, through abort(), a message
// box. Here an uncaught exception ends the process silently with abort's code.
// Linked as an object of the executable, not from the framework library, so
// that it is seen before the runtime's own definition.
#include <windows.h>

namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    TerminateProcess(GetCurrentProcess(), 3);
}
}  // namespace __gnu_cxx
