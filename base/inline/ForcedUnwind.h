// The unwinding of a thread that is ending (pthread_exit, cancellation) is
// an exception to libstdc++ that `catch (...)` also catches. It must be let
// through, or the process terminates: CPython ends threads that way when it
// finalizes, also the event-loop thread inside a Python callback. Put
//     KELVO_LET_FORCED_UNWIND_THROUGH
// right before every `catch (...)` that may see one.
// Header-only: the base library and the client both compile it.
#pragma once

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define KELVO_LET_FORCED_UNWIND_THROUGH                                                                      \
    catch (abi::__forced_unwind&)                                                                            \
    {                                                                                                        \
        throw;                                                                                               \
    }
#else
// Visual C++ and libc++ have no such type: a thread ends without unwinding.
#define KELVO_LET_FORCED_UNWIND_THROUGH
#endif
