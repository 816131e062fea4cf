// Lock annotations that Clang's thread-safety analysis (-Wthread-safety)
// checks: which lock guards a field, which locks a function takes, gives
// back, expects held or expects free.  They expand to the attributes only
// where the compiler has them (Clang); elsewhere (GCC, MinGW) to nothing,
// so those builds are as they were.
//
// The words, as used throughout the module:
//   CAPABILITY(kind)       a lock type (kind names it in the messages)
//   SCOPED_CAPABILITY      a guard object that holds a lock for its lifetime
//   GUARDED_BY(l)          a field read under either side of l, written
//                          under its exclusive side
//   PT_GUARDED_BY(l)       the same for what a pointer field points to
//   REQUIRES(l...)         the caller holds l exclusively
//   REQUIRES_SHARED(l...)  the caller holds at least the shared side of l
//   ACQUIRE(l...)          the function takes l exclusively (a guard's
//                          constructor, or a lock's own Lock); no argument
//                          on a lock's member function: the lock itself
//   ACQUIRE_SHARED(l...)   the same for the shared side
//   RELEASE(l...)          the function gives l back (either side on a
//                          guard's destructor)
//   RELEASE_SHARED(l...)   gives back the shared side
//   TRY_ACQUIRE(ok, l...)  takes l when it returns ok
//   EXCLUDES(l...)         the caller must not hold l (the function takes it
//                          itself, or calls out where holding it could
//                          deadlock)
//   RETURN_CAPABILITY(l)   the function returns a reference to the lock l
//   NO_THREAD_SAFETY_ANALYSIS  the function is not checked (say why beside it)
#pragma once

#if defined(__clang__) && defined(__has_attribute)
#if __has_attribute(capability) && __has_attribute(scoped_lockable) && __has_attribute(guarded_by) && \
    __has_attribute(pt_guarded_by) && __has_attribute(requires_capability) &&                       \
    __has_attribute(requires_shared_capability) && __has_attribute(acquire_capability) &&           \
    __has_attribute(acquire_shared_capability) && __has_attribute(release_capability) &&            \
    __has_attribute(release_shared_capability) && __has_attribute(try_acquire_capability) &&        \
    __has_attribute(locks_excluded) && __has_attribute(lock_returned) &&                            \
    __has_attribute(no_thread_safety_analysis)
#define KEL_THREAD_ANNOTATION(x) __attribute__((x))
#endif
#endif

#ifndef KEL_THREAD_ANNOTATION
#define KEL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(kind) KEL_THREAD_ANNOTATION(capability(kind))
#define SCOPED_CAPABILITY KEL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(l) KEL_THREAD_ANNOTATION(guarded_by(l))
#define PT_GUARDED_BY(l) KEL_THREAD_ANNOTATION(pt_guarded_by(l))
#define REQUIRES(...) KEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KEL_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) KEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KEL_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) KEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KEL_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KEL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) KEL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(l) KEL_THREAD_ANNOTATION(lock_returned(l))
#define NO_THREAD_SAFETY_ANALYSIS KEL_THREAD_ANNOTATION(no_thread_safety_analysis)
