// Clang's thread-safety attributes, spelled once. With clang and
// -Wthread-safety the compiler checks that data marked as guarded by a lock is
// only touched with that lock held, and that every lock taken is let go; with
// other compilers the marks are empty.
#pragma once

#if defined(__clang__)
#define TRAX_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define TRAX_THREAD_ATTRIBUTE(x)
#endif

// A type whose objects are locks.
#define TRAX_CAPABILITY(name) TRAX_THREAD_ATTRIBUTE(capability(name))
// A guard object that holds a lock for its lifetime.
#define TRAX_SCOPED_CAPABILITY TRAX_THREAD_ATTRIBUTE(scoped_lockable)
// Data that may be read or written only with the lock held.
#define TRAX_GUARDED_BY(lock) TRAX_THREAD_ATTRIBUTE(guarded_by(lock))
// A function that may be called only with the lock held.
#define TRAX_REQUIRES(...) TRAX_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
// A function that takes the lock and returns with it held.
#define TRAX_ACQUIRE(...) TRAX_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
// A function that lets go of a lock held on entry.
#define TRAX_RELEASE(...) TRAX_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
// A function that holds the lock on return exactly when it returns `result`.
#define TRAX_TRY_ACQUIRE(...) TRAX_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
// A function that returns (a reference to) the named lock.
#define TRAX_RETURN_CAPABILITY(lock) TRAX_THREAD_ATTRIBUTE(lock_returned(lock))
// A function whose locking the analysis cannot follow; its comment says why
// it is sound.
#define TRAX_NO_THREAD_SAFETY_ANALYSIS TRAX_THREAD_ATTRIBUTE(no_thread_safety_analysis)
