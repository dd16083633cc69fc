// An application that knows only the published header: it loads the library,
// asks its version, creates a client, points it at a front that refuses
// connections, hears of the failure and releases the client.
#include "MdApi.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

class Spi : public CThostFtdcMdSpi {
public:
    void OnFrontDisconnected(int nReason) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (reason == 0)
            reason = nReason;
        done.notify_all();
    }

    std::mutex mutex;
    std::condition_variable done;
    int reason = 0;
};

int Fail(const char* what)
{
    std::fprintf(stderr, "FAILED: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (std::strcmp(GetApiVersion(), "1.4.1.3") != 0 ||
        std::strcmp(CThostFtdcMdApi::GetApiVersion(), "1.4.1.3") != 0)
        return Fail("version");
    // Port 1 on loopback: nothing listens there.
    char front[64] = "tcp://127.0.0.1:1";
    if (argc > 1)
        std::snprintf(front, sizeof front, "%s", argv[1]);

    Spi spi;
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
    if (!api)
        return Fail("no client");
    api->RegisterSpi(&spi);
    api->RegisterFront(front);
    api->Init();
    {
        std::unique_lock<std::mutex> lock(spi.mutex);
        if (!spi.done.wait_for(lock, std::chrono::seconds(30), [&] { return spi.reason != 0; }))
            return Fail("no OnFrontDisconnected");
    }
    api->Release();
    std::printf("connection refused with reason %d; released\n", spi.reason);
    return 0;
}
