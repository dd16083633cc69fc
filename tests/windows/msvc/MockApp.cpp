// An application's unit test as Visual C++ builds it in Debug: it derives a
// mock from CThostFtdcMdApi, so the class's constructors, assignment,
// destructor and table come from mdlink64.dll, and it also creates and
// releases a real client. Compiled by clang in Microsoft's ABI at -O0 with
// run-time type information, linked by lld-link with no C or C++ runtime:
// what a runtime would give it (an entry point, the type_info table, the
// copies the compiler calls) is here. Prints "mock ok" and exits 0, or names
// what failed and exits 1.
#include "MdApi.h"

extern "C" {
typedef void* Handle;
typedef unsigned long Dword;
__declspec(dllimport) Handle GetStdHandle(Dword which);
__declspec(dllimport) int WriteFile(Handle file, const void* data, Dword size, Dword* written,
                                    void* overlapped);
__declspec(dllimport) __declspec(noreturn) void ExitProcess(unsigned int code);

void* memset(void* dest, int value, unsigned long long size)
{
    volatile unsigned char* d = static_cast<unsigned char*>(dest);
    while (size--)
        *d++ = static_cast<unsigned char>(value);
    return dest;
}

void* memcpy(void* dest, const void* src, unsigned long long size)
{
    volatile unsigned char* d = static_cast<unsigned char*>(dest);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    while (size--)
        *d++ = *s++;
    return dest;
}
}

// The table of std::type_info, which the type information of every class
// with virtual functions points to; the runtime would define it. Nothing
// here calls through it.
extern "C" const void* const TypeInfoTable[2] __asm__("??_7type_info@@6B@") = {nullptr, nullptr};

namespace {

void Print(const char* text)
{
    unsigned n = 0;
    while (text[n])
        ++n;
    Dword written = 0;
    WriteFile(GetStdHandle(static_cast<Dword>(-11)), text, n, &written, nullptr);
}

class MockApi : public CThostFtdcMdApi {
public:
    int inits = 0;
    int subscribed = 0;
    bool released = false;

    void Release() override { released = true; }
    void Init() override { ++inits; }
    int Join() override { return 7; }
    const char* GetTradingDay() override { return "20261209"; }
    void RegisterFront(char*) override {}
    void RegisterNameServer(char*) override {}
    void RegisterFensUserInfo(CThostFtdcFensUserInfoField*) override {}
    void RegisterSpi(CThostFtdcMdSpi*) override {}
    int SubscribeMarketData(char*[], int count) override { return subscribed += count, 0; }
    int UnSubscribeMarketData(char*[], int) override { return -1; }
    int SubscribeForQuoteRsp(char*[], int) override { return 0; }
    int UnSubscribeForQuoteRsp(char*[], int) override { return 0; }
    int ReqUserLogin(CThostFtdcReqUserLoginField*, int id) override { return id; }
    int ReqUserLogout(CThostFtdcUserLogoutField*, int) override { return 0; }
    int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField*, int) override { return 0; }
};

// The code under test sees only the interface.
bool UseThroughInterface(CThostFtdcMdApi* api)
{
    char au[] = "au2612";
    char* ids[] = {au, au};
    api->Init();
    return api->SubscribeMarketData(ids, 2) == 0 && api->Join() == 7 && api->GetTradingDay()[0] == '2' &&
        api->ReqUserLogin(nullptr, 42) == 42;
}

int Run()
{
    MockApi mock;
    if (!UseThroughInterface(&mock) || mock.inits != 1 || mock.subscribed != 2)
        return Print("the mock was not called as expected\n"), 1;
    MockApi copy(mock);
    MockApi assigned;
    assigned = copy;
    if (assigned.subscribed != 2 || !UseThroughInterface(&assigned) || assigned.subscribed != 4)
        return Print("a copy of the mock does not behave as one\n"), 1;
    copy.Release();
    if (!copy.released || mock.released)
        return Print("Release reached the wrong object\n"), 1;

    CThostFtdcMdApi* real = CThostFtdcMdApi::CreateFtdcMdApi();
    if (!real || !CThostFtdcMdApi::GetApiVersion()[0])
        return Print("no real client beside the mock\n"), 1;
    real->Release();
    Print("mock ok\n");
    return 0;
}

} // namespace

extern "C" void AppStart()
{
    ExitProcess(static_cast<unsigned>(Run()));
}
