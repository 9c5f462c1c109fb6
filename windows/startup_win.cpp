// Process set-up that Windows needs before main runs. The programs write UTF-8
// (the manifest makes it their code page), so the console shows their output as
// UTF-8 while they run; its own code page comes back when they end. Patterns on
// the command line reach the programs unexpanded: they match names themselves.
#include <windows.h>

extern "C" {
// Read by the mingw-w64 start-up code: 0 leaves wildcards in argv alone.
int _dowildcard = 0;
}

namespace {

struct ConsoleCodePage {
    UINT saved;
    ConsoleCodePage() : saved(GetConsoleOutputCP())
    {
        if (saved != 0 && saved != CP_UTF8)
            SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleCodePage()
    {
        if (saved != 0 && saved != CP_UTF8)
            SetConsoleOutputCP(saved);
    }
};

ConsoleCodePage g_console_code_page;

}  // namespace
