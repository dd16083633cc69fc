/* Forced into every source of the Linux release build (MDLINK_STATIC_RUNTIME)
   so that what it needs from glibc stays at version 2.28 or older. */
#pragma once
#ifdef __cplusplus
#include <bits/c++config.h>
/* Timed waits on the steady clock would call pthread_cond_clockwait and
   pthread_mutex_clocklock (glibc 2.30). Without them libstdc++ waits on the
   system clock until the same instant, converted; only a jump of the wall
   clock during the wait moves its end. */
#undef _GLIBCXX_USE_PTHREAD_COND_CLOCKWAIT
#undef _GLIBCXX_USE_PTHREAD_MUTEX_CLOCKLOCK
#undef _GLIBCXX_USE_PTHREAD_RWLOCK_CLOCKLOCK
#endif
