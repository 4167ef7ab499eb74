// Counting replacements of malloc, calloc and realloc (glibc's are called on).
#include "alloc/counting_malloc.h"

#include <cstddef>

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t n, std::size_t size);
void *__libc_realloc(void *p, std::size_t size);
void __libc_free(void *p);
}

namespace {

thread_local bool t_counting = false;  // this thread counts now
thread_local long t_count = 0;         // allocations counted on this thread

}  // namespace

extern "C" {

void *malloc(std::size_t size) {
  if (t_counting) ++t_count;
  return __libc_malloc(size);
}

void *calloc(std::size_t n, std::size_t size) {
  if (t_counting) ++t_count;
  return __libc_calloc(n, size);
}

void *realloc(void *p, std::size_t size) {
  if (t_counting) ++t_count;
  return __libc_realloc(p, size);
}

void free(void *p) { __libc_free(p); }

}  // extern "C"

namespace alloctest {

void count_allocations(bool on) { t_counting = on; }

long counted_allocations() { return t_count; }

void reset_allocation_count() { t_count = 0; }

}  // namespace alloctest
