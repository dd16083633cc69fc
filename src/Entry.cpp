// The exported entry points: the factory and the version query. Above both
// clients: the factory makes the redundant one when links are asked for.
#include "api/MdClient.h"
#include "calls/Boundary.h"
#include "log/LogRecord.h"

#include "LinksSetting.h"
#include "RedundantMdApi.h"

#include <cstdlib>

namespace {

// The single client, exactly as the factory has always made it. The inner
// clients of a redundant client come from here, never from the factory
// itself, which would read the variable again.
CKelvoMDClient* MakeSingle()
{
    CKelvoMDClient* client = new CKelvoMDClient();
    client->WriteLog(mdlink::LogInfo, "InitApi", "CreateFtdcMdApi static Version Foreign %s",
                     mdlink::InterfaceVersion);
    return client;
}

CThostFtdcMdApi* NewSingleClient()
{
    return MakeSingle();
}

} // namespace

CThostFtdcMdApi* CThostFtdcMdApi::CreateFtdcMdApi(const char*, const bool, const bool)
{
    // On Windows any failure gives a null client.
    return mdlink::AtBoundary<CThostFtdcMdApi*>(nullptr, []() -> CThostFtdcMdApi* {
        const char* text = std::getenv(mdlink::LinksVariable);
        const mdlink::LinksReading setting = mdlink::ReadLinks(text);
        // Above the most, Create is given what was asked, and says so.
        if (setting.what == mdlink::LinksReading::What::AboveMost)
            return mdlink::CRedundantMdApi::Create(setting.requested, &NewSingleClient);
        if (setting.links >= 2)
            return mdlink::CRedundantMdApi::Create(setting.links, &NewSingleClient);
        CKelvoMDClient* client = MakeSingle();
        if (setting.what == mdlink::LinksReading::What::Unreadable)
            client->WriteLog(mdlink::LogWarning, "InitApi",
                             "%s=\"%.64s\" is not a number of links (1 to %d): the single client",
                             mdlink::LinksVariable, text, static_cast<int>(mdlink::RedundantMaxLinks));
        return client;
    });
}

const char* CThostFtdcMdApi::GetApiVersion()
{
    return mdlink::InterfaceVersion;
}

extern "C" MDLINK_API const char* GetApiVersion()
{
    return mdlink::InterfaceVersion;
}
