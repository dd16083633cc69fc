// Running a piece of the client on the base layer's loop thread.
#pragma once

#include "ForcedUnwind.h"
#include "KelvoBase.h"

#include <exception>

namespace mdlink {

// Runs f on the loop thread and waits for it (at once when already there):
// the one way the client carries work onto the loop. An exception thrown by
// f (an allocation failure) is caught on the loop and rethrown here, so that
// none unwinds through the base library's C entry point.
template <class F>
void CallOnLoop(F f)
{
    struct Call {
        F* fn;
        std::exception_ptr error;
    } call{&f, nullptr};
    Kelvo_LOOP_Call(
        [](void* p) {
            Call* c = static_cast<Call*>(p);
            try {
                (*c->fn)();
            }
            KELVO_LET_FORCED_UNWIND_THROUGH
            catch (...)
            {
                c->error = std::current_exception();
            }
        },
        &call);
    if (call.error)
        std::rethrow_exception(call.error);
}

} // namespace mdlink
