#pragma once
// Bounds-checked readers over a byte range, shared by the JSON parser and the packet
// decoders of the model link.

#include <cstddef>
#include <cstdint>
#include <string>

/// The byte at `offset`; throws "Unable to convert memview. Size error" past the end.
uint8_t memview_get_u8(const void* data, size_t size, size_t offset);

/// The bytes [offset, offset + length) as text; length 0 means up to the end.
/// Throws when the range does not lie inside the `size` bytes.
std::string memview_to_string(const void* data, size_t size, size_t offset, size_t length);
