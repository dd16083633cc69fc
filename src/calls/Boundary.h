// The edge between the application and the library.
//
// On Windows no C++ exception may leave the library: the application may be
// built by another compiler, whose frames an exception of ours cannot cross.
// There a failure inside a call (memory, a thread that cannot start) ends the
// call with its failure value. Elsewhere allocation failures propagate.
#pragma once

#include "ForcedUnwind.h"

namespace mdlink {

template <class R, class F>
R AtBoundary(R failed, F f)
{
#if defined(_WIN32)
    try {
        return f();
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...)
    {
        return failed;
    }
#else
    (void)failed;
    return f();
#endif
}

template <class F>
void AtBoundary(F f)
{
#if defined(_WIN32)
    try {
        f();
    }
    KELVO_LET_FORCED_UNWIND_THROUGH
    catch (...)
    {}
#else
    f();
#endif
}

} // namespace mdlink
