#pragma once
// Raster names: "auto", "default", "source", "a_" + source block, or a periodic
// interval written as "r" + number + unit in canonical form (r10ms, r1s, r2h).
#include <cstdint>
#include <string>

namespace vesk {

/// Interval of a raster text in nanoseconds; 0 when the text is no interval (also when
/// it would not fit in 64 bits). Characters after the unit are not read ("r10min" is ten
/// minutes); `read`, when given, gets the length of the part that was.
uint64_t parse_interval(const std::string& text, size_t* read = nullptr);

/// Canonical name of an interval: "r", the number, and the largest unit (h, m, s, ms,
/// us, ns) that divides it exactly.
std::string raster_name(uint64_t interval_ns);

}  // namespace vesk
