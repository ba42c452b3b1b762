// Thread-safety annotations. They document which lock guards which field and expand to
// clang's attributes under clang, to nothing under g++.
#pragma once

#if defined(__clang__)
#define QUILTRA_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define QUILTRA_THREAD_ATTRIBUTE(x)
#endif

#define QUILTRA_CAPABILITY(x) QUILTRA_THREAD_ATTRIBUTE(capability(x))
#define QUILTRA_GUARDED_BY(x) QUILTRA_THREAD_ATTRIBUTE(guarded_by(x))
#define QUILTRA_PT_GUARDED_BY(x) QUILTRA_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define QUILTRA_REQUIRES(...) QUILTRA_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define QUILTRA_ACQUIRE(...) QUILTRA_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define QUILTRA_TRY_ACQUIRE(...) QUILTRA_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define QUILTRA_RELEASE(...) QUILTRA_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define QUILTRA_EXCLUDES(...) QUILTRA_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
