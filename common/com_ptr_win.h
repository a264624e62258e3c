// The one COM smart pointer of the project (MinGW has no ATL). operator& releases the
// pointer it holds before handing out its address, so an out-parameter loop such as
//   while (e->Next(1, &moniker, nullptr) == S_OK) { ... }
// never leaks the previous object.
#pragma once

#include <unknwn.h>

#include <memory>
#include <utility>

namespace talvex {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to `p`.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { reset(); }

  ComPtr& operator=(const ComPtr& other) {
    if (other.p_) other.p_->AddRef();
    reset();
    p_ = other.p_;
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != std::addressof(other)) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  // Adopts a pointer whose reference the caller hands over.
  static ComPtr adopt(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }

  void reset() {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Gives the reference away to the caller.
  T* detach() { return std::exchange(p_, nullptr); }
  // Takes over a reference the caller owns, releasing the one held so far.
  void attach(T* p) {
    reset();
    p_ = p;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For out-parameters: the old object is released first.
  T** operator&() {
    reset();
    return &p_;
  }
  // For IID_PPV_ARGS-style calls that want void**.
  void** out_void() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }

  // QueryInterface into another smart pointer; the result is empty on failure.
  template <typename U>
  HRESULT as(REFIID iid, ComPtr<U>& out) const {
    if (!p_) {
      out.reset();
      return E_POINTER;
    }
    return p_->QueryInterface(iid, out.out_void());
  }

  // Another interface of the same object, by its id; empty when the object has none.
  template <typename U>
  ComPtr<U> query(REFIID iid) const {
    ComPtr<U> other;
    as(iid, other);
    return other;
  }

  // Copies a new reference into an out-parameter (S_OK), or nullptr (E_POINTER when empty).
  HRESULT copy_to(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace talvex
