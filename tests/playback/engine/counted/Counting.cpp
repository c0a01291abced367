// The allocation functions forward to glibc's own (__libc_*); the lock functions to the next
// definition in the process, looked up once.
#include "Counting.h"

#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void* __libc_valloc(std::size_t);
void __libc_free(void*);
}

namespace quendo::counting {
namespace {

thread_local bool tMarked = false;
std::atomic<std::uint64_t> gAllocations{0}, gLocks{0};
std::atomic<const char*> gFirst{nullptr};

inline void Count(std::atomic<std::uint64_t>& counter, const char* what) {
    if (!tMarked) return;
    counter.fetch_add(1, std::memory_order_relaxed);
    const char* none = nullptr;
    gFirst.compare_exchange_strong(none, what, std::memory_order_relaxed);
}
inline void Allocation(const char* what) { Count(gAllocations, what); }
inline void Lock(const char* what) { Count(gLocks, what); }

template <class F>
F Next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

void Mark(bool on) { tMarked = on; }
Counts Read() { return {gAllocations.load(), gLocks.load(), gFirst.load()}; }
void Reset() {
    gAllocations = 0;
    gLocks = 0;
    gFirst = nullptr;
}

}  // namespace quendo::counting

using quendo::counting::Allocation;
using quendo::counting::Lock;
using quendo::counting::Next;

extern "C" {

void* malloc(std::size_t n) {
    Allocation("malloc");
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    Allocation("calloc");
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    Allocation("realloc");
    return __libc_realloc(p, n);
}
void free(void* p) {
    if (p) Allocation("free");
    __libc_free(p);
}
void* memalign(std::size_t align, std::size_t n) {
    Allocation("memalign");
    return __libc_memalign(align, n);
}
void* aligned_alloc(std::size_t align, std::size_t n) {
    Allocation("aligned_alloc");
    return __libc_memalign(align, n);
}
void* valloc(std::size_t n) {
    Allocation("valloc");
    return __libc_valloc(n);
}
int posix_memalign(void** out, std::size_t align, std::size_t n) {
    Allocation("posix_memalign");
    if (align < sizeof(void*) || (align & (align - 1)) != 0) return EINVAL;
    void* p = __libc_memalign(align, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

int pthread_mutex_lock(pthread_mutex_t* m) {
    static const auto next = Next<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
    Lock("pthread_mutex_lock");
    return next(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
    static const auto next = Next<int (*)(pthread_mutex_t*)>("pthread_mutex_trylock");
    Lock("pthread_mutex_trylock");
    return next(m);
}
int pthread_mutex_timedlock(pthread_mutex_t* m, const timespec* t) {
    static const auto next = Next<int (*)(pthread_mutex_t*, const timespec*)>("pthread_mutex_timedlock");
    Lock("pthread_mutex_timedlock");
    return next(m, t);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
    static const auto next = Next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_rdlock");
    Lock("pthread_rwlock_rdlock");
    return next(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
    static const auto next = Next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_wrlock");
    Lock("pthread_rwlock_wrlock");
    return next(l);
}
int pthread_rwlock_tryrdlock(pthread_rwlock_t* l) {
    static const auto next = Next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_tryrdlock");
    Lock("pthread_rwlock_tryrdlock");
    return next(l);
}
int pthread_rwlock_trywrlock(pthread_rwlock_t* l) {
    static const auto next = Next<int (*)(pthread_rwlock_t*)>("pthread_rwlock_trywrlock");
    Lock("pthread_rwlock_trywrlock");
    return next(l);
}
int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    static const auto next = reinterpret_cast<int (*)(pthread_cond_t*, pthread_mutex_t*)>(
        ::dlvsym(RTLD_NEXT, "pthread_cond_wait", "GLIBC_2.3.2"));
    Lock("pthread_cond_wait");
    return next(c, m);
}
int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const timespec* t) {
    static const auto next = reinterpret_cast<int (*)(pthread_cond_t*, pthread_mutex_t*, const timespec*)>(
        ::dlvsym(RTLD_NEXT, "pthread_cond_timedwait", "GLIBC_2.3.2"));
    Lock("pthread_cond_timedwait");
    return next(c, m, t);
}
int sem_wait(sem_t* s) {
    static const auto next = Next<int (*)(sem_t*)>("sem_wait");
    Lock("sem_wait");
    return next(s);
}
int sem_timedwait(sem_t* s, const timespec* t) {
    static const auto next = Next<int (*)(sem_t*, const timespec*)>("sem_timedwait");
    Lock("sem_timedwait");
    return next(s, t);
}

}  // extern "C"

// ---- C++ allocation ----

namespace {
void* New(std::size_t n, const char* what) {
    Allocation(what);
    if (void* p = __libc_malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* NewAligned(std::size_t n, std::align_val_t align, const char* what) {
    Allocation(what);
    if (void* p = __libc_memalign(static_cast<std::size_t>(align), n ? n : 1)) return p;
    throw std::bad_alloc();
}
void Delete(void* p) {
    if (p) Allocation("operator delete");
    __libc_free(p);
}
}  // namespace

void* operator new(std::size_t n) { return New(n, "operator new"); }
void* operator new[](std::size_t n) { return New(n, "operator new[]"); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    Allocation("operator new (nothrow)");
    return __libc_malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    Allocation("operator new[] (nothrow)");
    return __libc_malloc(n ? n : 1);
}
void* operator new(std::size_t n, std::align_val_t a) { return NewAligned(n, a, "operator new (aligned)"); }
void* operator new[](std::size_t n, std::align_val_t a) { return NewAligned(n, a, "operator new[] (aligned)"); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    Allocation("operator new (aligned, nothrow)");
    return __libc_memalign(static_cast<std::size_t>(a), n ? n : 1);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    Allocation("operator new[] (aligned, nothrow)");
    return __libc_memalign(static_cast<std::size_t>(a), n ? n : 1);
}
void operator delete(void* p) noexcept { Delete(p); }
void operator delete[](void* p) noexcept { Delete(p); }
void operator delete(void* p, std::size_t) noexcept { Delete(p); }
void operator delete[](void* p, std::size_t) noexcept { Delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Delete(p); }
void operator delete(void* p, std::align_val_t) noexcept { Delete(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Delete(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Delete(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Delete(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Delete(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Delete(p); }
