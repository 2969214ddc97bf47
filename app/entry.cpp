#include <windows.h>

#include "app/command_tail.h"

/* The linker's symbol for the start of our own image: the module handle,
   without a call to ask for it. */
extern "C" IMAGE_DOS_HEADER __ImageBase;

/* The process starts here, with no C runtime: the first Windows 95 releases
   have no msvcrt.dll. Windows enters with whatever stack alignment it likes. */
extern "C" void __attribute__((force_align_arg_pointer)) WinMainCRTStartup(void)
{
    const char *tail = CommandLineTail(GetCommandLineA());
    ExitProcess(WinMain((HINSTANCE)&__ImageBase, NULL, (LPSTR)tail, SW_SHOWDEFAULT));
}
