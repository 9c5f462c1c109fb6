#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>

#include "brim.h"

namespace {

constexpr int INTERRUPTED_STATUS = 130;
const char* volatile interrupt_temp_name = nullptr;

extern "C" void on_interrupt(int)
{
    const char* name = interrupt_temp_name;
    if (name && name[0] != '\0')
        std::remove(name);
    _exit(INTERRUPTED_STATUS);
}

}  // namespace

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

double seconds_now() { return static_cast<double>(GetTickCount64()) / 1000.0; }

void remove_on_interrupt(const char* temp_name)
{
    interrupt_temp_name = temp_name;
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
}

void binary_standard_streams()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}
