#pragma once
// Start-up guard for the convention that a descriptor field of 0 means "closed".

namespace vesk::io {

/// Opens "/dev/null" on each of the descriptors 0, 1 and 2 that is not open, so that no
/// socket, timer or pipe made later can get one of them. A program's main calls this
/// first; a parent that started us with standard input closed would otherwise hand the
/// first socket descriptor 0, which the event loop takes for "closed". Returns how many
/// it opened.
int ensure_standard_descriptors();

}  // namespace vesk::io
