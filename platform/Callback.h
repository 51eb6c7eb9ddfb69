// A callback is a pair of a function and the object it belongs to. Users swap callbacks while
// other threads call them, so the pair changes as one value: a caller sees the old pair or the
// new one, never half of each.
#pragma once

#include <mutex>

namespace plat {

template <typename... Args>
class TCallback {
 public:
  using Fn = void (*)(void* context, Args...);

  void Set(Fn fn, void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    fn_ = fn;
    context_ = context;
  }
  void Clear() { Set(nullptr, nullptr); }

  // Binds a member function of obj: callback.Bind<&TClass::Method>(obj).
  template <auto Method, typename T>
  void Bind(T* obj) {
    Set([](void* ctx, Args... args) { (static_cast<T*>(ctx)->*Method)(args...); }, obj);
  }

  bool Assigned() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fn_ != nullptr;
  }

  // Calls the pair current at this moment, without holding the lock; false when unassigned.
  bool operator()(Args... args) const {
    Fn fn;
    void* context;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fn = fn_;
      context = context_;
    }
    if (fn == nullptr) return false;
    fn(context, args...);
    return true;
  }

 private:
  mutable std::mutex mutex_;
  Fn fn_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace plat
