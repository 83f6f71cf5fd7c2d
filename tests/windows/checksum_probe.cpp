// Prints the header checksum stored in each PE file and the one Windows computes from its bytes
// (imagehlp's MapFileAndCheckSumW, the system's own reading of the algorithm), one line per file:
// "STORED COMPUTED PATH" in hexadecimal. usage: checksum_probe FILE...   (exit 1 when one cannot be read)
#include <windows.h>

#include <imagehlp.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t **argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        DWORD stored = 0, computed = 0;
        if (::MapFileAndCheckSumW(argv[i], &stored, &computed) != CHECKSUM_SUCCESS) {
            std::fwprintf(stderr, L"cannot read %ls\n", argv[i]);
            status = 1;
            continue;
        }
        std::wprintf(L"%08lX %08lX %ls\n", stored, computed, argv[i]);
    }
    return status;
}
