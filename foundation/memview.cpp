#include "foundation/memview.h"

#include "foundation/bt_exception.h"

uint8_t memview_get_u8(const void* data, size_t size, size_t offset) {
  if (offset >= size) throw_bt_exception("Unable to convert memview. Size error");
  return static_cast<const uint8_t*>(data)[offset];
}

std::string memview_to_string(const void* data, size_t size, size_t offset, size_t length) {
  const char* bytes = static_cast<const char*>(data);
  if (length == 0) {
    if (offset > size) throw_bt_exception("Offset can not be bigger then size.");
    return std::string(bytes + offset, size - offset);
  }
  // Written as a subtraction so that a huge length cannot wrap around.
  if (offset > size || length > size - offset)
    throw_bt_exception("unable to create object, because of size limit");
  return std::string(bytes + offset, length);
}
