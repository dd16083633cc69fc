// Which process an object belongs to, across fork().
//
// A forked child has one thread. The parent's loop thread, and whatever lock
// it or any other thread held at the fork, stay behind: the child must never
// touch the parent's loop, timer service, sockets or log locks. So every
// fork bumps the generation in the child (a pthread_atfork hook set when the
// library loads), the child's first use of the loop starts a loop of its
// own, and the objects the child inherited, which remember the generation
// they were made in, turn inert: they do nothing and leak what they hold
// rather than free it through the parent's loop.
#pragma once

#include <atomic>

namespace kelvo {

extern std::atomic<unsigned> g_forkGeneration;

inline unsigned ForkGeneration()
{
    return g_forkGeneration.load(std::memory_order_relaxed);
}

// True for an object made before the fork that made this process.
inline bool Inherited(unsigned generation)
{
    return generation != ForkGeneration();
}

// Keeps a leak checker quiet about memory given up on purpose.
void LeakOnPurpose(const void* object);

} // namespace kelvo
