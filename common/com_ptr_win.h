// One owned reference to a COM interface. Taking the address (&p) releases the interface
// held so far, so an out-parameter loop such as
//   while (e->Next(1, &moniker, nullptr) == S_OK) { ... }
// never leaks.
#pragma once

#include <objbase.h>

#include <cstddef>
#include <utility>

namespace talvex {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}  // NOLINT: implicit on purpose
  // Takes a new reference to `p`.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Adopts a reference the caller already owns.
  void attach(T* p) {
    reset();
    p_ = p;
  }
  T* detach() { return std::exchange(p_, nullptr); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** operator&() {
    reset();
    return &p_;
  }
  // For calls that take `void**` with an explicit interface id.
  void** out() { return reinterpret_cast<void**>(&*this); }

  // Another interface of the same object, by its id; empty when the object has none.
  template <typename U>
  ComPtr<U> query(REFIID iid) const {
    ComPtr<U> other;
    if (p_) p_->QueryInterface(iid, other.out());
    return other;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace talvex
