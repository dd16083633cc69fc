// The library as a Visual C++ program sees it: loaded at run time, the factory
// and the version query found by their Visual C++ names, and the client driven
// only through the slots of its virtual function table, by index, as code
// compiled against the published header calls them. Against an in-process
// front on loopback, it must receive depth data.
#include "FrontServer.h"
#include "MdApi.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// CThostFtdcMdApi's slots, in the published order.
enum Slot {
    SlotRelease = 0,
    SlotInit = 1,
    SlotRegisterFront = 4,
    SlotRegisterSpi = 7,
    SlotSubscribeMarketData = 8,
    SlotReqUserLogin = 12,
};

// On Windows x64 a member function is called like a free function with the
// object first.
template <class R, class... Args>
R CallSlot(CThostFtdcMdApi* api, Slot slot, Args... args)
{
    using Fn = R (*)(CThostFtdcMdApi*, Args...);
    void** table = *reinterpret_cast<void***>(api);
    return reinterpret_cast<Fn>(table[slot])(api, args...);
}

class Spi : public CThostFtdcMdSpi {
public:
    explicit Spi(CThostFtdcMdApi* api) : api_(api) {}

    void OnFrontConnected() override
    {
        CThostFtdcReqUserLoginField req;
        std::memset(&req, 0, sizeof req);
        std::strcpy(req.UserID, "trader");
        Note(CallSlot<int>(api_, SlotReqUserLogin, &req, 1) == 0 ? nullptr : "login not sent");
    }
    void OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info, int, bool) override
    {
        if (info && info->ErrorID != 0)
            return Note("login refused");
        char id[] = "au2612";
        char* ids[] = {id};
        Note(CallSlot<int>(api_, SlotSubscribeMarketData, ids, 1) == 0 ? nullptr : "not subscribed");
    }
    void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!received_ && std::strcmp(depth->InstrumentID, "au2612") == 0 && depth->LastPrice > 0)
            received_ = true;
        changed_.notify_all();
    }

    // The first failure, or null once depth data for au2612 has arrived.
    const char* Wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(60), [this] { return received_ || error_; }))
            return "no depth data";
        return error_;
    }

private:
    void Note(const char* error)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error && !error_)
            error_ = error;
        changed_.notify_all();
    }

    CThostFtdcMdApi* api_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool received_ = false;
    const char* error_ = nullptr;
};

int Fail(const char* what)
{
    std::fprintf(stderr, "FAILED: %s\n", what);
    return 1;
}

} // namespace

int main()
{
    HMODULE dll = LoadLibraryA("mdlink64.dll");
    if (!dll)
        return Fail("LoadLibrary(mdlink64.dll)");
    using Factory = CThostFtdcMdApi* (*)(const char*, bool, bool);
    using Version = const char* (*)();
    const auto create = reinterpret_cast<Factory>(
        reinterpret_cast<void*>(GetProcAddress(dll, "?CreateFtdcMdApi@CThostFtdcMdApi@@SAPEAV1@PEBD_N1@Z")));
    const auto version = reinterpret_cast<Version>(
        reinterpret_cast<void*>(GetProcAddress(dll, "?GetApiVersion@CThostFtdcMdApi@@SAPEBDXZ")));
    const auto plainVersion =
        reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(dll, "GetApiVersion")));
    if (!create || !version || !plainVersion)
        return Fail("GetProcAddress of the factory or a version query");
    if (std::strcmp(version(), "1.4.1.3") != 0 || std::strcmp(plainVersion(), "1.4.1.3") != 0)
        return Fail("version");

    // The abstract class's special members, as Visual C++ generates them: the
    // constructors set the exported table and return the object, assignment
    // returns the object and keeps its table.
    using Construct = void* (*)(void*);
    using Copy = void* (*)(void*, const void*);
    const auto construct = reinterpret_cast<Construct>(
        reinterpret_cast<void*>(GetProcAddress(dll, "??0CThostFtdcMdApi@@QEAA@XZ")));
    const auto copy = reinterpret_cast<Copy>(
        reinterpret_cast<void*>(GetProcAddress(dll, "??0CThostFtdcMdApi@@QEAA@AEBV0@@Z")));
    const auto assign = reinterpret_cast<Copy>(
        reinterpret_cast<void*>(GetProcAddress(dll, "??4CThostFtdcMdApi@@QEAAAEAV0@AEBV0@@Z")));
    const void* table = reinterpret_cast<void*>(GetProcAddress(dll, "??_7CThostFtdcMdApi@@6B@"));
    const void* object[1] = {nullptr};
    const void* other[1] = {nullptr};
    if (!construct || !copy || !assign || !table || construct(object) != object || object[0] != table ||
        copy(other, object) != other || other[0] != table)
        return Fail("constructors");
    other[0] = &other;
    if (assign(other, object) != other || other[0] != &other)
        return Fail("assignment");

    mdfront::FrontConfig config;
    config.instruments = {{"au2612", "SHFE"}};
    config.rate = 20;
    config.form = mdfront::DepthForm::Text;
    mdfront::FrontServer front(config);
    const std::string address = "tcp://127.0.0.1:" + std::to_string(front.Start());

    CThostFtdcMdApi* api = create("", false, false);
    if (!api)
        return Fail("no client");
    Spi spi(api);
    CallSlot<void>(api, SlotRegisterSpi, static_cast<CThostFtdcMdSpi*>(&spi));
    std::string frontText = address;
    CallSlot<void>(api, SlotRegisterFront, &frontText[0]);
    CallSlot<void>(api, SlotInit);
    const char* error = spi.Wait();
    CallSlot<void>(api, SlotRelease);
    front.Stop();
    // The library stays loaded: its event-loop thread lives until the process exits.
    if (error)
        return Fail(error);
    std::printf("depth data received through the Visual C++ entry points and slots\n");
    return 0;
}
