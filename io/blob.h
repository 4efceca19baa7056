#pragma once
// Non-owning byte views handed to receive callbacks.

#include <cstddef>
#include <memory>

namespace vesk {

/// A view of bytes owned by someone else; valid only during the call it is handed to.
class blob {
 public:
  blob() = default;
  blob(void* d, size_t s) : data(d), size(s) {}
  virtual ~blob() = default;

  void* data = nullptr;  ///< first byte
  size_t size = 0;       ///< byte count
};

/// A view that also keeps the owner of its bytes alive for as long as it lives.
class blob_shared : public blob {
 public:
  blob_shared(void* d, size_t s, std::shared_ptr<void> owner) : blob(d, s), owner(std::move(owner)) {}

  std::shared_ptr<void> owner;  ///< whatever holds the bytes
};

}  // namespace vesk
