// Hints that memory will be needed soon. They change no result, and compile to nothing where the
// compiler offers no prefetch (the passes over large matrices wait on memory more than on their
// arithmetic; hardware prefetching alone does not follow a gather or a scatter).
#pragma once

inline void prefetch_for_read(const void* p)
{
#if defined(__GNUC__)
    __builtin_prefetch(p, 0);
#else
    (void)p;
#endif
}

// For memory that will be read and written.
inline void prefetch_for_update(const void* p)
{
#if defined(__GNUC__)
    __builtin_prefetch(p, 1);
#else
    (void)p;
#endif
}
