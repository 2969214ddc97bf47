// Getting a DLL of ours into a program we start, the same way on Windows and
// under Wine: the process is created suspended, and the first bytes of its
// entry point are replaced by a jump to a stub that loads the DLL, puts those
// bytes back and jumps to the entry point. By then the loader has resolved the
// program's imports, and none of the program's own code has run.
#ifndef TRAYMARK_E2E_INJECT_H
#define TRAYMARK_E2E_INJECT_H

#include <windows.h>

#include <string>

namespace driver {

// `process` must have been created with CREATE_SUSPENDED and not resumed yet.
// False, with the reason in *error, when the stub could not be put in place;
// the process is then untouched or fit only to be terminated.
bool LoadBeforeEntry(HANDLE process, const std::string &dll, std::string *error);

}  // namespace driver

#endif
