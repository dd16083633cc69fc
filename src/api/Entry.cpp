// The exported entry points: the factory and the version query.
#include "api/MdClient.h"

#include <new>

namespace {
const char ApiVersion[] = "1.4.1.3";
}

CThostFtdcMdApi* CThostFtdcMdApi::CreateFtdcMdApi(const char*, const bool, const bool)
{
#if defined(_WIN32)
    // No C++ exception may cross into an application built by another
    // compiler: an allocation failure gives a null client.
    try {
#endif
        CKelvoMDClient* client = new CKelvoMDClient();
        client->WriteLog(3, "InitApi", "CreateFtdcMdApi static Version Foreign 1.4.1.3");
        return client;
#if defined(_WIN32)
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
#endif
}

const char* CThostFtdcMdApi::GetApiVersion()
{
    return ApiVersion;
}

extern "C" MDLINK_API const char* GetApiVersion()
{
    return ApiVersion;
}
