#include "tests/e2e/inject.h"

#include <vector>

namespace driver {

namespace {

// The part of ntdll's PROCESS_BASIC_INFORMATION we need, 32-bit layout.
struct BasicInformation {
    LONG exitStatus;
    DWORD peb;
    DWORD affinityMask;
    LONG basePriority;
    DWORD processId;
    DWORD parentProcessId;
};
typedef LONG(WINAPI *QueryInformationProcess)(HANDLE, int, void *, ULONG, ULONG *);
const DWORD kPebImageBase = 8;   // PEB.ImageBaseAddress

const DWORD kJumpSize = 5;       // jmp rel32

// The stub's page: code, then its data at fixed offsets.
const DWORD kLoadLibrarySlot = 0x100, kVirtualProtectSlot = 0x104, kEntrySlot = 0x108;
const DWORD kOldProtection = 0x10C, kScratch = 0x110, kSavedBytes = 0x120, kDllPath = 0x140;
const DWORD kPageSize = 0x1000;

struct Code {
    std::vector<BYTE> bytes;
    void Op(std::initializer_list<BYTE> op) { bytes.insert(bytes.end(), op); }
    void Word(DWORD value)
    {
        for (int i = 0; i < 4; i++)
            bytes.push_back((BYTE)(value >> (8 * i)));
    }
};

bool Fail(std::string *error, const char *what)
{
    char text[160];
    wsprintfA(text, "%s (error %lu)", what, GetLastError());
    *error = text;
    return false;
}

}  // namespace

bool LoadBeforeEntry(HANDLE process, const std::string &dll, std::string *error)
{
    QueryInformationProcess query =
        (QueryInformationProcess)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
    BasicInformation info;
    if (!query || query(process, 0, &info, sizeof info, NULL) != 0)
        return Fail(error, "no process information");
    DWORD base = 0;
    if (!ReadProcessMemory(process, (void *)(UINT_PTR)(info.peb + kPebImageBase), &base, sizeof base, NULL) ||
        !base)
        return Fail(error, "no image base in the process block");
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    if (!ReadProcessMemory(process, (void *)(UINT_PTR)base, &dos, sizeof dos, NULL) ||
        !ReadProcessMemory(process, (void *)(UINT_PTR)(base + dos.e_lfanew), &nt, sizeof nt, NULL) ||
        nt.Signature != IMAGE_NT_SIGNATURE)
        return Fail(error, "no program headers at the image base");
    DWORD entry = base + nt.OptionalHeader.AddressOfEntryPoint;

    BYTE *page = (BYTE *)VirtualAllocEx(process, NULL, kPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (!page)
        return Fail(error, "no memory for the stub");
    DWORD stub = (DWORD)(UINT_PTR)page;
    std::vector<BYTE> block(kPageSize, 0);
    if (dll.size() + 1 > kPageSize - kDllPath)
        return Fail(error, "DLL path too long");
    memcpy(&block[kDllPath], dll.c_str(), dll.size() + 1);
    if (!ReadProcessMemory(process, (void *)(UINT_PTR)entry, &block[kSavedBytes], kJumpSize, NULL))
        return Fail(error, "cannot read the entry point");
    // kernel32 sits at the same address in every process of a session.
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    DWORD slots[] = { (DWORD)(UINT_PTR)GetProcAddress(kernel32, "LoadLibraryA"),
                      (DWORD)(UINT_PTR)GetProcAddress(kernel32, "VirtualProtect"), entry };
    memcpy(&block[kLoadLibrarySlot], slots, sizeof slots);

    Code c;
    c.Op({0x60});                                   // pushad
    c.Op({0x9C});                                   // pushfd
    c.Op({0x68}); c.Word(stub + kDllPath);          // push path
    c.Op({0xFF, 0x15}); c.Word(stub + kLoadLibrarySlot);      // call [LoadLibraryA]
    c.Op({0x68}); c.Word(stub + kOldProtection);    // push &old
    c.Op({0x6A, PAGE_EXECUTE_READWRITE});           // push PAGE_EXECUTE_READWRITE
    c.Op({0x6A, (BYTE)kJumpSize});                  // push 5
    c.Op({0x68}); c.Word(entry);                    // push entry
    c.Op({0xFF, 0x15}); c.Word(stub + kVirtualProtectSlot);   // call [VirtualProtect]
    c.Op({0xFC});                                   // cld
    c.Op({0xBE}); c.Word(stub + kSavedBytes);       // mov esi, saved
    c.Op({0xBF}); c.Word(entry);                    // mov edi, entry
    c.Op({0xB9}); c.Word(kJumpSize);                // mov ecx, 5
    c.Op({0xF3, 0xA4});                             // rep movsb
    c.Op({0x68}); c.Word(stub + kScratch);          // push &scratch
    c.Op({0xFF, 0x35}); c.Word(stub + kOldProtection);        // push [old]
    c.Op({0x6A, (BYTE)kJumpSize});                  // push 5
    c.Op({0x68}); c.Word(entry);                    // push entry
    c.Op({0xFF, 0x15}); c.Word(stub + kVirtualProtectSlot);   // call [VirtualProtect]
    c.Op({0x9D});                                   // popfd
    c.Op({0x61});                                   // popad
    c.Op({0xFF, 0x25}); c.Word(stub + kEntrySlot);  // jmp [entry]
    memcpy(&block[0], c.bytes.data(), c.bytes.size());
    if (!WriteProcessMemory(process, page, block.data(), block.size(), NULL))
        return Fail(error, "cannot write the stub");

    BYTE jump[kJumpSize] = { 0xE9 };
    DWORD distance = stub - (entry + kJumpSize);
    memcpy(jump + 1, &distance, 4);
    DWORD protection;
    if (!VirtualProtectEx(process, (void *)(UINT_PTR)entry, kJumpSize, PAGE_EXECUTE_READWRITE, &protection))
        return Fail(error, "cannot unprotect the entry point");
    BOOL written = WriteProcessMemory(process, (void *)(UINT_PTR)entry, jump, kJumpSize, NULL);
    VirtualProtectEx(process, (void *)(UINT_PTR)entry, kJumpSize, protection, &protection);
    if (!written)
        return Fail(error, "cannot write the entry point");
    FlushInstructionCache(process, (void *)(UINT_PTR)entry, kJumpSize);
    return true;
}

}  // namespace driver
