// The relay's message ids are record keys (recordkey/RecordKey.h), under
// the names the bus code has always used.
#pragma once

#include "recordkey/RecordKey.h"

namespace mdrelay {

using mdrecord::KeyOf;
using mdrecord::KeyText;
using mdrecord::RecordKey;

} // namespace mdrelay
