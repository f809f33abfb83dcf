// A value each thread keeps from one call to the next, such as a buffer reused from file to
// file, freed when the thread ends.
//
//   static ThreadKept<std::string> buffers;          // one per process: it holds a key
//   std::string own;
//   std::string* kept = buffers.get();
//   std::string& buffer = kept != nullptr ? *kept : own;   // none: this call keeps nothing
//
// Not a C++ thread_local: one with a destructor registers itself with the C library at a
// thread's first use of it, and the C library ends the process when that registration cannot
// allocate, as with many workers under an address-space limit. A thread's first keys have
// their slots in the thread itself, so keeping a value allocates the value alone, and that
// failing only means the caller keeps nothing.
#pragma once

#include <pthread.h>

#include <new>

namespace korvane {

template <class T>
class ThreadKept {
 public:
  ThreadKept() noexcept : made_(::pthread_key_create(&key_, &destroy) == 0) {}
  // The key stays: a thread may end after a static holder is gone, and its value with it.
  ~ThreadKept() = default;
  ThreadKept(const ThreadKept&) = delete;
  ThreadKept& operator=(const ThreadKept&) = delete;

  // This thread's value, made on its first call; none when it cannot be made or kept.
  T* get() noexcept {
    if (!made_) return nullptr;
    if (void* value = ::pthread_getspecific(key_)) return static_cast<T*>(value);
    T* value = new (std::nothrow) T();
    if (value != nullptr && ::pthread_setspecific(key_, value) != 0) {
      delete value;
      value = nullptr;
    }
    return value;
  }

 private:
  static void destroy(void* value) { delete static_cast<T*>(value); }

  pthread_key_t key_{};
  bool made_;
};

}  // namespace korvane
