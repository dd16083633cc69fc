// The exported entry points: the factory and the version query.
#include "api/Boundary.h"
#include "api/MdClient.h"

#include "LinksSetting.h"
#include "RedundantMdApi.h"

#include <cstdlib>

namespace {

const char ApiVersion[] = "1.4.1.3";

// The single client, exactly as the factory has always made it. The inner
// clients of a redundant client come from here, never from the factory
// itself, which would read the variable again.
CThostFtdcMdApi* NewSingleClient()
{
    CKelvoMDClient* client = new CKelvoMDClient();
    client->WriteLog(3, "InitApi", "CreateFtdcMdApi static Version Foreign 1.4.1.3");
    return client;
}

} // namespace

CThostFtdcMdApi* CThostFtdcMdApi::CreateFtdcMdApi(const char*, const bool, const bool)
{
    // On Windows any failure gives a null client.
    return mdlink::AtBoundary<CThostFtdcMdApi*>(nullptr, []() -> CThostFtdcMdApi* {
        const int links = mdlink::LinksFromText(std::getenv(mdlink::LinksVariable));
        if (links >= 2)
            return mdlink::CRedundantMdApi::Create(links, &NewSingleClient);
        return NewSingleClient();
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
