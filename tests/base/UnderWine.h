// Whether the tests run under Wine rather than Windows, for the few checks of
// guarantees that Windows gives and Wine does not.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace kelvotest {

inline bool UnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

} // namespace kelvotest
