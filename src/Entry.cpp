// The exported entry points: the factory and the version query. Above both
// clients: the factory makes the redundant one when links are asked for,
// lists every client it makes for the metrics page, and starts that page's
// listener with the first one when MDLINK_METRICS asks for it.
#include "api/MdClient.h"
#include "calls/Boundary.h"
#include "log/LogRecord.h"
#include "metrics/Metrics.h"
#include "metrics/RedundantFigures.h"
#include "metrics/Registry.h"

#include "LinksSetting.h"
#include "RedundantClient.h"
#include "RedundantMdApi.h"

#include <cstdlib>
#include <memory>

namespace {

// The single client, exactly as the factory has always made it. The inner
// clients of a redundant client come from here, never from the factory
// itself, which would read the variable again; they count in their link's
// cells and are not listed on their own.
CKelvoMDClient* MakeSingle()
{
    CKelvoMDClient* client = new CKelvoMDClient();
    client->WriteLog(mdlink::LogInfo, "InitApi", "CreateFtdcMdApi static Version Foreign %s",
                     mdlink::InterfaceVersion);
    return client;
}

CThostFtdcMdApi* MakeRedundant(int links)
{
    auto figures = std::make_shared<mdlink::metrics::RedundantFigures>();
    // Successive inner clients of one link share its cells: its counts go on
    // across the clients it starts over with.
    mdlink::LinkFactory factory = [figures](int link) -> CThostFtdcMdApi* {
        CKelvoMDClient* client = MakeSingle();
        if (link >= 0 && link < mdlink::RedundantMaxLinks)
            client->UseFigures(figures->links[link]);
        return client;
    };
    mdlink::CRedundantMdApi* api = mdlink::CRedundantMdApi::Create(links, std::move(factory));
    if (!api)
        return nullptr;
    // Create makes nothing but this class.
    mdlink::CRedundantMdClient* client = static_cast<mdlink::CRedundantMdClient*>(api);
    client->UseFigures(figures);
    mdlink::metrics::Register(figures);
    mdlink::metrics::StartFromEnvironment(
        [client](int level, const char* text) { client->WriteLog(level, "Metrics", "%s", text); });
    return api;
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
            return MakeRedundant(setting.requested);
        if (setting.links >= 2)
            return MakeRedundant(setting.links);
        CKelvoMDClient* client = MakeSingle();
        if (setting.what == mdlink::LinksReading::What::Unreadable)
            client->WriteLog(mdlink::LogWarning, "InitApi",
                             "%s=\"%.64s\" is not a number of links (1 to %d): the single client",
                             mdlink::LinksVariable, text, static_cast<int>(mdlink::RedundantMaxLinks));
        mdlink::metrics::Register(client->GetFigures());
        mdlink::metrics::StartFromEnvironment(
            [client](int level, const char* text) { client->WriteLog(level, "Metrics", "%s", text); });
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
