// Makes sure the stream exists as the options describe it, at start: it is
// created when missing; an existing one is compared member by member, and a
// difference is reported, then handled as the MismatchPolicy says. The
// stream is never changed without the policy asking for it.
#pragma once

#include "StreamSpec.h"

#include <nats/nats.h>

#include <string>
#include <vector>

namespace mdrelay {

enum class StreamOutcome {
    Created, // there was none
    Matches, // it exists as described
    Used,    // it differs; publishing into it as it is
    Updated, // it differed and was changed to the options
    Differs, // it differs and the policy says stop
    Failed,  // the server refused or did not answer (error says why)
};

struct StreamReport {
    StreamOutcome outcome = StreamOutcome::Failed;
    std::vector<std::string> differences;
    std::string error;
    std::vector<std::string> subjects; // what the stream takes now (not when Failed)
};

// Whether a stream taking these subjects takes every subject under prefix.
bool TakesPrefix(const std::vector<std::string>& subjects, const std::string& prefix);

StreamReport EnsureStream(jsCtx* js, const StreamSpec& spec, MismatchPolicy policy);

// The stream as the server describes it.
StreamSpec SpecOf(const jsStreamConfig& config);

} // namespace mdrelay
