#include "util/memory_release.h"

#include <cstdlib>  // defines __GLIBC__ where glibc is the C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace korvane {

void release_free_memory() {
#if defined(__GLIBC__)
  // Every thread's heap is trimmed, not only the calling thread's: worker threads free memory
  // of their own during a parallel request.
  malloc_trim(0);
#endif
}

}  // namespace korvane
