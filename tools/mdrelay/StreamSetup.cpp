#include "StreamSetup.h"

#include "NatsLink.h"
#include "Subjects.h"

namespace mdrelay {

namespace {

// Fills config from spec; subjects points into spec and must outlive config.
void Fill(jsStreamConfig& config, const StreamSpec& spec, std::vector<const char*>& subjects)
{
    jsStreamConfig_Init(&config);
    subjects.clear();
    for (const std::string& s : spec.subjects)
        subjects.push_back(s.c_str());
    config.Name = spec.name.c_str();
    config.Subjects = subjects.data();
    config.SubjectsLen = static_cast<int>(subjects.size());
    config.Storage = spec.storage == Storage::File ? js_FileStorage : js_MemoryStorage;
    config.MaxAge = spec.maxAgeNs;
    config.MaxBytes = spec.maxBytes > 0 ? spec.maxBytes : -1;
    config.Replicas = spec.replicas;
    config.Duplicates = spec.duplicateWindowNs;
}

StreamReport Apply(jsCtx* js, const StreamSpec& spec, bool create)
{
    StreamReport r;
    jsStreamConfig config;
    std::vector<const char*> subjects;
    Fill(config, spec, subjects);
    jsStreamInfo* info = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    const natsStatus s = create ? js_AddStream(&info, js, &config, nullptr, &code)
                                : js_UpdateStream(&info, js, &config, nullptr, &code);
    jsStreamInfo_Destroy(info);
    if (s != NATS_OK) {
        r.error = NatsLink::ErrorText(create ? "creating the stream" : "updating the stream", s);
        return r;
    }
    r.outcome = create ? StreamOutcome::Created : StreamOutcome::Updated;
    r.subjects = spec.subjects;
    return r;
}

} // namespace

bool TakesPrefix(const std::vector<std::string>& subjects, const std::string& prefix)
{
    // Only a subject ending in '>' takes tokens without end; if it takes
    // one token under the prefix, it takes them all.
    for (const std::string& s : subjects)
        if (!s.empty() && s.back() == '>' && SubjectMatches(s, prefix + ".x"))
            return true;
    return false;
}

StreamSpec SpecOf(const jsStreamConfig& c)
{
    StreamSpec spec;
    spec.name = c.Name ? c.Name : "";
    spec.subjects.clear();
    for (int i = 0; i < c.SubjectsLen; ++i)
        spec.subjects.push_back(c.Subjects[i]);
    spec.storage = c.Storage == js_MemoryStorage ? Storage::Memory : Storage::File;
    spec.maxAgeNs = c.MaxAge;
    spec.maxBytes = c.MaxBytes > 0 ? c.MaxBytes : 0;
    spec.replicas = static_cast<int>(c.Replicas);
    spec.duplicateWindowNs = c.Duplicates;
    return spec;
}

StreamReport EnsureStream(jsCtx* js, const StreamSpec& spec, MismatchPolicy policy)
{
    jsStreamInfo* info = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    const natsStatus s = js_GetStreamInfo(&info, js, spec.name.c_str(), nullptr, &code);
    if (s == NATS_NOT_FOUND || code == JSStreamNotFoundErr)
        return Apply(js, spec, true);
    StreamReport r;
    if (s != NATS_OK) {
        r.error = NatsLink::ErrorText("reading the stream's configuration", s);
        return r;
    }
    const StreamSpec existing = SpecOf(*info->Config);
    jsStreamInfo_Destroy(info);
    r.differences = StreamDifferences(spec, existing);
    r.subjects = existing.subjects;
    if (r.differences.empty()) {
        r.outcome = StreamOutcome::Matches;
    } else if (policy == MismatchPolicy::Use) {
        r.outcome = StreamOutcome::Used;
    } else if (policy == MismatchPolicy::Fail) {
        r.outcome = StreamOutcome::Differs;
    } else {
        StreamReport u = Apply(js, spec, false);
        u.differences = r.differences;
        return u;
    }
    return r;
}

} // namespace mdrelay
