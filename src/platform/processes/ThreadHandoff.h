#pragma once

// Qt's thread pool and queued calls synchronise inside Qt, which ThreadSanitizer cannot see
// unless Qt itself was built with it. These marks tell it where work passes between threads;
// they compile to nothing in other builds.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace qv {

namespace detail {
inline char handoffToken = 0;
} // namespace detail

// Before handing work to another thread through Qt.
inline void handoffRelease()
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(&detail::handoffToken);
#endif
}

// First thing on the receiving thread, before touching what was handed over.
inline void handoffAcquire()
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(&detail::handoffToken);
#endif
}

} // namespace qv
