#include "Interrupt.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace mdtools {

namespace {

std::atomic<bool> interrupted{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD)
{
    interrupted = true;
    return TRUE;
}
#else
extern "C" void OnSignal(int)
{
    interrupted = true;
}
#endif

} // namespace

void InstallInterruptHandler()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

bool Interrupted()
{
    return interrupted.load();
}

} // namespace mdtools
