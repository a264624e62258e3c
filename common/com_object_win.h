// The IUnknown of a COM object of our own with one interface, living on the heap: its
// references counted with InterlockedIncrement, deleted at the last Release.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace talvex {

template <typename Interface>
class ComObject : public Interface {
 public:
  explicit ComObject(REFIID iid) : iid_(iid) {}
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iid_)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

 private:
  const IID& iid_;
  LONG references_ = 1;
};

}  // namespace talvex
