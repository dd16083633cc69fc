// The exported entry points: the factory and the version query.
#include "api/Boundary.h"
#include "api/MdClient.h"

namespace {
const char ApiVersion[] = "1.4.1.3";
}

CThostFtdcMdApi* CThostFtdcMdApi::CreateFtdcMdApi(const char*, const bool, const bool)
{
    // On Windows any failure gives a null client.
    return mdlink::AtBoundary<CThostFtdcMdApi*>(nullptr, [] {
        CKelvoMDClient* client = new CKelvoMDClient();
        client->WriteLog(3, "InitApi", "CreateFtdcMdApi static Version Foreign 1.4.1.3");
        return client;
    });
}

const char* CThostFtdcMdApi::GetApiVersion()
{
    return ApiVersion;
}

extern "C" MDLINK_API const char* GetApiVersion()
{
    return ApiVersion;
}
