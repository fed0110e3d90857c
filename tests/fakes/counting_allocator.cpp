#include "counting_allocator.h"

#include <cstdlib>
#include <new>

namespace {

bool g_counting = false;
long g_allocations = 0;

void Counted() {
    if (g_counting) ++g_allocations;
}

}  // namespace

namespace counting_allocator {

void Start() {
    g_allocations = 0;
    g_counting = true;
}

long Stop() {
    g_counting = false;
    return g_allocations;
}

}  // namespace counting_allocator

// glibc's allocator under counting wrappers; a shared library resolves to these too.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);

void* malloc(std::size_t size) noexcept {
    Counted();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    Counted();
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    Counted();
    return __libc_realloc(block, size);
}
void free(void* block) noexcept {
    __libc_free(block);
}
}

void* operator new(std::size_t size) {
    Counted();
    if (void* block = __libc_malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    Counted();
    if (void* block = __libc_malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    __libc_free(block);
}
void operator delete[](void* block) noexcept {
    __libc_free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    __libc_free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    __libc_free(block);
}
