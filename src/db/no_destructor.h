// A value made on first use and never destroyed, for process-wide state that threads may still
// use while static objects are torn down at exit (pools, caches, locks, counters). Such state
// lives as long as the process by design; this type says so where it is declared.
#pragma once

#include <new>
#include <utility>

namespace rembiz::db {

template <class T>
class NoDestructor {
 public:
  template <class... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  ~NoDestructor() = default;  // the value stays: see above
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T& operator*() { return *get(); }
  T* operator->() { return get(); }
  T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace rembiz::db
