// Owning reference to a COM interface: releases what it holds, so no code
// path has to pair AddRef and Release by hand.
#pragma once

// windows.h must come first.
// clang-format off
#include <windows.h>
#include <unknwn.h>
// clang-format on

#include <utility>

namespace veltrane::dshow {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already owns.
  explicit ComPtr(T* owned) : p_(owned) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  void Reset() {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Gives the reference away without releasing it.
  T* Detach() { return std::exchange(p_, nullptr); }

  // Out-parameter for calls that return a new reference; drops the old one.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // QueryInterface for another interface; empty when it is not offered.
  template <class U>
  HRESULT As(const IID& iid, ComPtr<U>& out) const {
    if (p_ == nullptr) {
      out.Reset();
      return E_POINTER;
    }
    return p_->QueryInterface(iid, out.PutVoid());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace veltrane::dshow
