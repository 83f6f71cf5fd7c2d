// routetrace.com: the console companion of routetrace.exe. The program is a GUI-subsystem executable
// (a double click opens its window without a console); started from cmd.exe or PowerShell, its report
// would print nowhere and the shell would not wait for its exit code. Typing "routetrace" in a console
// finds this file first (.COM comes before .EXE in PATHEXT): it starts the .exe of its own name beside
// it with the same arguments and this console's standard handles, waits for it, and returns its exit
// code. Ctrl-C or Ctrl-Break ends the program as SIGINT does on Linux: exit code 130.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kInterrupted = 130;

HANDLE g_child = nullptr;

// Ctrl-C, Ctrl-Break, the console closing: the program has no console to be told of it.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (g_child) ::TerminateProcess(g_child, kInterrupted);
    return TRUE; // this process goes on, to return the code
}

// The path of this file, however long.
std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return path.substr(0, n);
        path.resize(path.size() * 2);
    }
}

// The command line after the program's own name, as typed (quotes and spacing kept).
const wchar_t *Arguments(const wchar_t *line) {
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    return line;
}

void Say(const char *text) {
    DWORD written;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, DWORD(std::char_traits<char>::length(text)), &written, nullptr);
}

} // namespace

int main() {
    std::wstring program = OwnPath();
    size_t dot = program.find_last_of(L".\\");
    if (program.empty() || dot == std::wstring::npos || program[dot] != L'.') {
        Say("routetrace: cannot find the program beside this file\r\n");
        return 2;
    }
    program.replace(dot, std::wstring::npos, L".exe");
    std::wstring command = L"\"" + program + L"\"" + Arguments(::GetCommandLineW());

    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                          &started)) {
        Say("routetrace: cannot start routetrace.exe beside this file\r\n");
        return 2;
    }
    g_child = started.hProcess;
    ::CloseHandle(started.hThread);
    DWORD code = 2;
    if (::WaitForSingleObject(started.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(started.hProcess, &code))
        code = 2;
    return int(code);
}
