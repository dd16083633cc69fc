// Every fault, listed once: the order their hooks run and --help lists
// them, and FrontFaults made of their settings.
#pragma once

#include "AnnounceBody.h"
#include "BigBody.h"
#include "CloseAfterFrames.h"
#include "CloseMidBody.h"
#include "GarbageAfterLogin.h"
#include "RefuseLogins.h"
#include "ShortBodies.h"
#include "SilentAfterFrames.h"
#include "SilentAfterTime.h"
#include "Trickle.h"
#include "UnknownFrames.h"

namespace mdfront {

template <class... F>
struct FaultList {
    struct Settings : F::Settings... {};
};

// Hooks run in this order: the frames after a login go out as unknown
// frames, then garbage, then an announcement.
using Faults = FaultList<SilentAfterTime, SilentAfterFrames, CloseAfterFrames, CloseMidBody, RefuseLogins,
                         UnknownFrames, GarbageAfterLogin, AnnounceBody, BigBody, Trickle, ShortBodies>;

// Faults apply to every connection, each counted per connection. "Frames"
// are whole frames the front has queued on that connection, heartbeat
// replies included; garbage bytes are not frames. Each member belongs to
// one fault's Settings (e.g. f.garbage_after_login); zero or unset: off.
struct FrontFaults : Faults::Settings {};

} // namespace mdfront
