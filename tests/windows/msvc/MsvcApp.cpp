// An application as Visual C++ builds it, calling mdlink64.dll against
// mdfront.exe. Compiled by clang in Microsoft's ABI and linked by lld-link
// with no C or C++ runtime at all: kernel32 is its only other import, it has
// its own entry point and operator new/delete over the process heap, and it
// throws nothing. Whatever it sees of the library (virtual tables, calling
// conventions, bool arguments, the records' members) it sees exactly as a
// Visual C++ program compiled against MdApi.h does.
//
//   mdlink_msvc_app.exe <dead front> <binary front> <text front> <joined front>
//
// Three clients at once, one per body form, each registered with the dead
// front first: each must be refused there, fail over, log in, subscribe,
// receive depth records whose members read right, unsubscribe and be
// released.
//
// Built with MDLINK_LOAD_AT_RUN_TIME the program links nothing of the
// library: it loads mdlink64.dll with LoadLibrary, finds the factory by its
// decorated name, runs the clients and unloads the DLL again, over and over
// in one process (the optional fifth argument is the number of rounds).
#include "MdApi.h"

// ---- kernel32, declared here: no Windows or C runtime header is used.
extern "C" {
typedef void* Handle;
typedef unsigned long Dword; // 32 bits in this ABI
__declspec(dllimport) Handle GetStdHandle(Dword which);
__declspec(dllimport) int WriteFile(Handle file, const void* data, Dword size, Dword* written,
                                    void* overlapped);
__declspec(dllimport) __declspec(noreturn) void ExitProcess(unsigned int code);
__declspec(dllimport) Handle GetProcessHeap();
__declspec(dllimport) void* HeapAlloc(Handle heap, Dword flags, unsigned long long size);
__declspec(dllimport) int HeapFree(Handle heap, Dword flags, void* block);
__declspec(dllimport) Handle
    CreateEventA(void* attributes, int manualReset, int initialState, const char* name);
__declspec(dllimport) int SetEvent(Handle event);
__declspec(dllimport) Dword WaitForSingleObject(Handle object, Dword milliseconds);
__declspec(dllimport) int CloseHandle(Handle object);
__declspec(dllimport) char* GetCommandLineA();
#ifdef MDLINK_LOAD_AT_RUN_TIME
__declspec(dllimport) Handle LoadLibraryA(const char* name);
__declspec(dllimport) void* GetProcAddress(Handle module, const char* name);
__declspec(dllimport) int FreeLibrary(Handle module);
__declspec(dllimport) Handle GetModuleHandleA(const char* name);
#endif
}

// ---- What a compiler expects of the runtime it was not given.
extern "C" {
// Marks a program that uses floating point.
int _fltused = 0;

// The compiler may turn copies and clears into calls of these; volatile keeps
// it from turning these loops back into calls of themselves.
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

void* operator new(unsigned long long size)
{
    void* block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!block)
        ExitProcess(3);
    return block;
}
void* operator new[](unsigned long long size)
{
    return operator new(size);
}
void operator delete(void* block) noexcept
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, unsigned long long) noexcept
{
    operator delete(block);
}
void operator delete[](void* block) noexcept
{
    operator delete(block);
}
void operator delete[](void* block, unsigned long long) noexcept
{
    operator delete(block);
}

namespace {

// ---- Text.

unsigned Length(const char* s)
{
    unsigned n = 0;
    while (s[n])
        ++n;
    return n;
}

bool Equal(const char* a, const char* b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

bool StartsWith(const char* s, const char* prefix)
{
    while (*prefix && *s == *prefix)
        ++s, ++prefix;
    return *prefix == 0;
}

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

void Print(const char* text)
{
    Dword written = 0;
    WriteFile(GetStdHandle(static_cast<Dword>(-11)), text, Length(text), &written, nullptr);
}

#ifdef MDLINK_LOAD_AT_RUN_TIME
void PrintNumber(long long value)
{
    char digits[24];
    char* p = digits + sizeof digits;
    *--p = 0;
    const bool negative = value < 0;
    unsigned long long v =
        negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (negative)
        *--p = '-';
    Print(p);
}
#endif

void CopyText(char* dest, unsigned size, const char* src)
{
    unsigned i = 0;
    for (; i + 1 < size && src[i]; ++i)
        dest[i] = src[i];
    dest[i] = 0;
}

// ---- The command line: the program's name, then words separated by spaces.

const int MaxArgs = 8;

int SplitCommandLine(char* line, char* args[MaxArgs])
{
    int count = 0;
    char* p = line;
    if (*p == '"') {
        for (++p; *p && *p != '"'; ++p) {}
        if (*p)
            ++p;
    }
    for (;;) {
        while (*p && *p != ' ' && *p != '\t' && count == 0)
            ++p; // the rest of an unquoted program name
        while (*p == ' ' || *p == '\t')
            *p++ = 0;
        if (!*p || count == MaxArgs)
            return count;
        args[count++] = p;
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
}

// ---- One client.

enum Form { Binary, Text, Joined, FormCount };
const char* const FormNames[FormCount] = {"binary", "text", "joined"};

const int LoginRequestId = 41;
const int WantedDepth = 6;           // records of each instrument before unsubscribing
const int ConnectionRefused = 10061; // WinSock's number
const Dword WaitMillis = 120000;     // generous: Wine on a shared machine

// Everything this client's callbacks saw. Written on the library's thread;
// read by the main thread only once the client has been released.
class Spi : public CThostFtdcMdSpi {
public:
    void Start(CThostFtdcMdApi* api, Form form, bool deadFrontFirst)
    {
        api_ = api;
        form_ = form;
        deadFrontFirst_ = deadFrontFirst;
        ready_ = CreateEventA(nullptr, 1, 0, nullptr);
        unsubscribed_ = CreateEventA(nullptr, 1, 0, nullptr);
    }
    void Close()
    {
        CloseHandle(ready_);
        CloseHandle(unsubscribed_);
    }

    Handle Ready() const { return ready_; }
    Handle Unsubscribed() const { return unsubscribed_; }
    const char* Error() const { return error_; }
    const char* ErrorDetail() const { return errorDetail_; }
    int Depth(int instrument) const { return depth_[instrument]; }

    void OnFrontConnected() override
    {
        ++connects_;
        if (deadFrontFirst_ && refusals_ == 0)
            return Fail("connected before the dead front was refused", "");
        CThostFtdcReqUserLoginField req = {};
        CopyText(req.BrokerID, sizeof req.BrokerID, "9999");
        CopyText(req.UserID, sizeof req.UserID, "trader");
        CopyText(req.Password, sizeof req.Password, "secret");
        if (api_->ReqUserLogin(&req, LoginRequestId) != 0)
            Fail("ReqUserLogin did not return 0", "");
    }

    void OnFrontDisconnected(int reason) override
    {
        if (connects_ == 0 && reason == ConnectionRefused) {
            ++refusals_;
            return;
        }
        Fail("unexpected disconnection", "");
    }

    void OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int requestId,
                        bool isLast) override
    {
        if (!login || !info || info->ErrorID != 0)
            return Fail("login refused", info ? info->ErrorMsg : "");
        if (requestId != LoginRequestId || !isLast)
            return Fail("login response: request id or last flag", "");
        if (!Equal(login->UserID, "trader") || !Equal(login->BrokerID, "9999"))
            return Fail("login response: user or broker", login->UserID);
        if (Length(login->TradingDay) != 8)
            return Fail("login response: trading day", login->TradingDay);
        char* ids[] = {Instrument(0), Instrument(1)};
        if (api_->SubscribeMarketData(ids, 2) != 0)
            Fail("SubscribeMarketData did not return 0", "");
    }

    void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info, int,
                            bool isLast) override
    {
        if (!instrument || (info && info->ErrorID != 0))
            return Fail("subscription refused", instrument ? instrument->InstrumentID : "");
        // One response per instrument; the second is the last.
        if (IndexOf(instrument->InstrumentID) < 0 || isLast != (++subscribed_ == 2))
            return Fail("subscription response: instrument or last flag", instrument->InstrumentID);
    }

    void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                              int, bool isLast) override
    {
        if (!instrument || (info && info->ErrorID != 0) || IndexOf(instrument->InstrumentID) < 0 ||
            isLast != (++unsubscribed_count_ == 2))
            return Fail("unsubscription response", instrument ? instrument->InstrumentID : "");
        if (isLast)
            SetEvent(unsubscribed_);
    }

    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* d) override
    {
        if (!d)
            return Fail("null depth record", "");
        const int index = IndexOf(d->InstrumentID, form_ == Joined);
        if (index < 0)
            return Fail("depth record: instrument id", d->InstrumentID);
        if (subscribed_ < 2)
            return Fail("depth record before the subscription response", d->InstrumentID);
        if (!Equal(d->ExchangeID, "SHFE") || !Equal(d->ExchangeInstID, Instrument(index)))
            return Fail("depth record: exchange or exchange's instrument id", d->ExchangeID);
        if (!Time(d->UpdateTime) || d->UpdateMillisec < 0 || d->UpdateMillisec > 999)
            return Fail("depth record: update time", d->UpdateTime);
        if (Length(d->TradingDay) != 8 || !Digit(d->TradingDay[0]) || !Digit(d->TradingDay[7]))
            return Fail("depth record: trading day", d->TradingDay);
        if (!(d->LastPrice > 0) || d->LastPrice < d->LowerLimitPrice || d->LastPrice > d->UpperLimitPrice)
            return Fail("depth record: last price outside the limits", d->InstrumentID);
        if (!(d->BidPrice1 > 0) || !(d->AskPrice1 > d->BidPrice1) || !(d->AskPrice5 > d->AskPrice1) ||
            !(d->BidPrice5 < d->BidPrice1))
            return Fail("depth record: book prices", d->InstrumentID);
        if (d->BidVolume1 < 1 || d->BidVolume1 > 300 || d->AskVolume5 < 1 || d->AskVolume5 > 300 ||
            d->Volume < 0)
            return Fail("depth record: volumes", d->InstrumentID);
        ++depth_[index];
        if (depth_[0] >= WantedDepth && depth_[1] >= WantedDepth)
            SetEvent(ready_);
    }

private:
    static char* Instrument(int index)
    {
        static char au[] = "au2612";
        static char ag[] = "ag2612";
        return index == 0 ? au : ag;
    }

    // The instrument's index, or -1. The joined form composes the id from
    // the exchange, the exchange's id and an empty third field.
    static int IndexOf(const char* id, bool joined = false)
    {
        for (int i = 0; i < 2; ++i) {
            if (!joined && Equal(id, Instrument(i)))
                return i;
            if (joined && StartsWith(id, "SHFE ") && StartsWith(id + 5, Instrument(i)) &&
                Equal(id + 5 + Length(Instrument(i)), " "))
                return i;
        }
        return -1;
    }

    static bool Time(const char* t)
    {
        return Length(t) == 8 && Digit(t[0]) && Digit(t[1]) && t[2] == ':' && Digit(t[3]) && Digit(t[4]) &&
            t[5] == ':' && Digit(t[6]) && Digit(t[7]);
    }

    void Fail(const char* what, const char* detail)
    {
        if (!error_) {
            error_ = what;
            CopyText(errorDetail_, sizeof errorDetail_, detail);
        }
        SetEvent(ready_);
        SetEvent(unsubscribed_);
    }

    CThostFtdcMdApi* api_ = nullptr;
    Form form_ = Binary;
    bool deadFrontFirst_ = false;
    Handle ready_ = nullptr;
    Handle unsubscribed_ = nullptr;
    int connects_ = 0;
    int refusals_ = 0;
    int subscribed_ = 0;
    int unsubscribed_count_ = 0;
    int depth_[2] = {0, 0};
    const char* error_ = nullptr;
    char errorDetail_[64] = {};
};

typedef CThostFtdcMdApi* (*Factory)(const char*, bool, bool);

bool Report(const char* form, const char* what, const char* detail)
{
    Print("FAILED (");
    Print(form);
    Print(" front): ");
    Print(what);
    if (detail && *detail) {
        Print(": '");
        Print(detail);
        Print("'");
    }
    Print("\n");
    return false;
}

// One client per form at once, each against its own front. The dead front,
// when given, is registered first.
bool RunClients(Factory create, char* deadFront, char* fronts[FormCount])
{
    CThostFtdcMdApi* api[FormCount] = {};
    Spi* spi = new Spi[FormCount];
    bool ok = true;
    for (int f = 0; f < FormCount; ++f) {
        // The two flags are bools in registers; the library ignores them.
        api[f] = create("", true, f == Joined);
        if (!api[f]) {
            ok = Report(FormNames[f], "no client", "");
            continue;
        }
        spi[f].Start(api[f], static_cast<Form>(f), deadFront != nullptr);
        api[f]->RegisterSpi(&spi[f]);
        if (deadFront)
            api[f]->RegisterFront(deadFront);
        api[f]->RegisterFront(fronts[f]);
        api[f]->Init();
    }
    for (int f = 0; f < FormCount; ++f)
        if (api[f] && WaitForSingleObject(spi[f].Ready(), WaitMillis) != 0)
            ok = Report(FormNames[f], "no depth data in time", "");
    for (int f = 0; f < FormCount; ++f) {
        if (!api[f])
            continue;
        char au[] = "au2612";
        char ag[] = "ag2612";
        char* ids[] = {au, ag};
        if (api[f]->UnSubscribeMarketData(ids, 2) != 0)
            ok = Report(FormNames[f], "UnSubscribeMarketData did not return 0", "");
        else if (WaitForSingleObject(spi[f].Unsubscribed(), WaitMillis) != 0)
            ok = Report(FormNames[f], "no unsubscription response in time", "");
    }
    for (int f = 0; f < FormCount; ++f) {
        if (!api[f])
            continue;
        api[f]->Release();
        // Released: no callback of this client runs any more.
        if (spi[f].Error())
            ok = Report(FormNames[f], spi[f].Error(), spi[f].ErrorDetail());
        else if (spi[f].Depth(0) < WantedDepth || spi[f].Depth(1) < WantedDepth)
            ok = Report(FormNames[f], "too few depth records", "");
        spi[f].Close();
    }
    delete[] spi;
    return ok;
}

#ifdef MDLINK_LOAD_AT_RUN_TIME
int ParseCount(const char* text)
{
    int n = 0;
    for (; Digit(*text); ++text)
        n = n * 10 + (*text - '0');
    return *text ? -1 : n;
}
#endif

int Main()
{
    char* args[MaxArgs] = {};
    const int count = SplitCommandLine(GetCommandLineA(), args);
    if (count < 4) {
        Print("usage: mdlink_msvc_app <dead front> <binary front> <text front> <joined front> "
              "[rounds]\n");
        return 2;
    }
    char* fronts[FormCount] = {args[1], args[2], args[3]};

#ifndef MDLINK_LOAD_AT_RUN_TIME
    (void)count;
    if (!Equal(CThostFtdcMdApi::GetApiVersion(), "1.4.1.3") || !Equal(GetApiVersion(), "1.4.1.3"))
        return Report("no", "version", CThostFtdcMdApi::GetApiVersion()), 1;
    if (!RunClients(&CThostFtdcMdApi::CreateFtdcMdApi, args[0], fronts))
        return 1;
    Print("three clients, one per body form, failed over and received depth data through the "
          "import library\n");
    return 0;
#else
    const int rounds = count > 4 ? ParseCount(args[4]) : 1;
    if (rounds < 1)
        return Report("no", "rounds", args[4]), 2;
    for (int round = 0; round < rounds; ++round) {
        Handle dll = LoadLibraryA("mdlink64.dll");
        if (!dll)
            return Report("no", "LoadLibrary(mdlink64.dll)", ""), 1;
        const Factory create = reinterpret_cast<Factory>(
            GetProcAddress(dll, "?CreateFtdcMdApi@CThostFtdcMdApi@@SAPEAV1@PEBD_N1@Z"));
        typedef const char* (*Version)();
        const Version version =
            reinterpret_cast<Version>(GetProcAddress(dll, "?GetApiVersion@CThostFtdcMdApi@@SAPEBDXZ"));
        if (!create || !version || !Equal(version(), "1.4.1.3"))
            return Report("no", "the factory or the version by their decorated names", ""), 1;
        // The dead front only in the first round: each failover waits 3 s.
        if (!RunClients(create, round == 0 ? args[0] : nullptr, fronts))
            return Print("in round "), PrintNumber(round + 1), Print("\n"), 1;
        if (!FreeLibrary(dll))
            return Report("no", "FreeLibrary", ""), 1;
        // Once a client has run, the DLL stays pinned: its event-loop thread
        // lives until the process ends.
        if (!GetModuleHandleA("mdlink64.dll") || !GetModuleHandleA("KelvoBaseV64.dll"))
            return Report("no", "the DLLs were unloaded under their running thread", ""), 1;
    }
    Print("mdlink64.dll loaded, run and freed ");
    PrintNumber(rounds);
    Print(" times in one process\n");
    return 0;
#endif
}

} // namespace

extern "C" void AppStart()
{
    ExitProcess(static_cast<unsigned int>(Main()));
}
