#include "BusClient.h"

#include "MdApi.h"

#include <cstring>

namespace relaytest {

natsOptions* ClientOptions(const std::string& urls)
{
    std::vector<std::string> list;
    std::size_t start = 0;
    for (std::size_t comma; (comma = urls.find(',', start)) != std::string::npos; start = comma + 1)
        list.push_back(urls.substr(start, comma - start));
    list.push_back(urls.substr(start));
    std::vector<const char*> servers;
    for (const std::string& s : list)
        servers.push_back(s.c_str());
    natsOptions* opts = nullptr;
    natsOptions_Create(&opts);
    natsOptions_SetServers(opts, servers.data(), static_cast<int>(servers.size()));
    natsOptions_SetMaxReconnect(opts, -1);
    natsOptions_SetReconnectWait(opts, 100);
    natsOptions_SetTimeout(opts, 2000);
    return opts;
}

BusClient::BusClient(const std::string& urls)
{
    natsOptions* opts = ClientOptions(urls);
    if (natsConnection_Connect(&nc_, opts) == NATS_OK) {
        jsOptions jo;
        jsOptions_Init(&jo);
        jo.Wait = 10000;
        if (natsConnection_JetStream(&js_, nc_, &jo) != NATS_OK)
            js_ = nullptr;
    }
    natsOptions_Destroy(opts);
}

BusClient::~BusClient()
{
    jsCtx_Destroy(js_);
    natsConnection_Destroy(nc_);
}

StreamState BusClient::State(const std::string& stream)
{
    StreamState s;
    jsStreamInfo* info = nullptr;
    if (!js_ || js_GetStreamInfo(&info, js_, stream.c_str(), nullptr, nullptr) != NATS_OK)
        return s;
    s.exists = true;
    s.messages = info->State.Msgs;
    s.lastSeq = info->State.LastSeq;
    if (info->Cluster && info->Cluster->Leader)
        s.leader = info->Cluster->Leader;
    s.storage = info->Config->Storage == js_MemoryStorage ? "memory" : "file";
    s.replicas = static_cast<int>(info->Config->Replicas);
    s.maxAgeNs = info->Config->MaxAge;
    jsStreamInfo_Destroy(info);
    return s;
}

std::vector<StoredRecord> BusClient::ReadAll(const std::string& stream)
{
    std::vector<StoredRecord> out;
    const StreamState state = State(stream);
    if (state.messages == 0)
        return out;
    jsSubOptions so;
    jsSubOptions_Init(&so);
    so.Stream = stream.c_str();
    so.Ordered = true;
    so.Config.DeliverPolicy = js_DeliverAll;
    natsSubscription* sub = nullptr;
    if (!js_ || js_SubscribeSync(&sub, js_, ">", nullptr, &so, nullptr) != NATS_OK)
        return out;
    for (;;) {
        natsMsg* msg = nullptr;
        if (natsSubscription_NextMsg(&msg, sub, 10000) != NATS_OK)
            break;
        StoredRecord r;
        r.subject = natsMsg_GetSubject(msg);
        r.payload.assign(natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg)));
        const char** keys = nullptr;
        int count = 0;
        if (natsMsgHeader_Keys(msg, &keys, &count) == NATS_OK) {
            for (int i = 0; i < count; ++i) {
                const char* value = nullptr;
                natsMsgHeader_Get(msg, keys[i], &value);
                r.headers[keys[i]] = value ? value : "";
            }
            free(keys);
        }
        jsMsgMetaData* meta = nullptr;
        if (natsMsg_GetMetaData(&meta, msg) == NATS_OK) {
            r.streamSeq = meta->Sequence.Stream;
            r.storedNs = meta->Timestamp;
            jsMsgMetaData_Destroy(meta);
        }
        natsMsg_Destroy(msg);
        out.push_back(std::move(r));
        if (out.back().streamSeq >= state.lastSeq)
            break;
    }
    natsSubscription_Unsubscribe(sub);
    natsSubscription_Destroy(sub);
    return out;
}

bool BusClient::Delete(const std::string& stream)
{
    return js_ && js_DeleteStream(js_, stream.c_str(), nullptr, nullptr) == NATS_OK;
}

bool BusClient::StepDown(const std::string& stream)
{
    natsMsg* reply = nullptr;
    const std::string subject = "$JS.API.STREAM.LEADER.STEPDOWN." + stream;
    const bool ok = nc_ && natsConnection_Request(&reply, nc_, subject.c_str(), nullptr, 0, 10000) == NATS_OK;
    natsMsg_Destroy(reply);
    return ok;
}

std::vector<int> Volumes(const std::vector<StoredRecord>& records)
{
    std::vector<int> out;
    for (const StoredRecord& r : records) {
        if (r.payload.size() != sizeof(CThostFtdcDepthMarketDataField))
            continue;
        CThostFtdcDepthMarketDataField d;
        std::memcpy(&d, r.payload.data(), sizeof d);
        out.push_back(d.Volume);
    }
    return out;
}

} // namespace relaytest
