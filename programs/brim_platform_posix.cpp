#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "brim.h"

namespace {

constexpr int INTERRUPTED_STATUS = 130;
const char* volatile interrupt_temp_name = nullptr;

extern "C" void on_interrupt(int)
{
    const char* name = interrupt_temp_name;
    if (name && name[0] != '\0')
        unlink(name);
    _exit(INTERRUPTED_STATUS);
}

}  // namespace

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

double seconds_now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void remove_on_interrupt(const char* temp_name)
{
    interrupt_temp_name = temp_name;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void binary_standard_streams() {}
