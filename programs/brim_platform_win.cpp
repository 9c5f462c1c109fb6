#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "brim.h"

namespace {

constexpr DWORD INTERRUPTED_STATUS = 130;
const char* volatile interrupt_temp_name = nullptr;

// Ctrl+C, Ctrl+Break and closing the console arrive on a thread of their own:
// the partial file is deleted there and the process ends.
BOOL WINAPI on_console_event(DWORD)
{
    const char* name = interrupt_temp_name;
    if (name && name[0] != '\0')
        DeleteFileW(std::filesystem::u8path(name).wstring().c_str());
    ExitProcess(INTERRUPTED_STATUS);
}

}  // namespace

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

double seconds_now() { return static_cast<double>(GetTickCount64()) / 1000.0; }

void remove_on_interrupt(const char* temp_name)
{
    interrupt_temp_name = temp_name;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void binary_standard_streams()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}
