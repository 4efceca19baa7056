#pragma once
// Printing of chosen model signals as plain text lines on standard output. The link to
// the back end (link_client.h) is the other observer of the model.
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include <vesk/rt/model.h>

namespace linux_runtime {

/// One sampled value of a signal, as a raster saw it at the end of a tick.
struct sample {
  enum state_t { none, opaque, number };
  state_t state = none;  ///< none: no value (yet); opaque: not readable as a number
  double value = 0;
};

/// Reads a signal's value now (only safe while its raster does not run).
sample read_signal(const vesk::rt::signal_exporter& s);

/// The indices into `signals` named by `spec` ("*" all, "" none, else display names
/// separated by commas or blanks, each listed once in the order given). Names that no
/// signal carries are appended to `unknown`.
std::vector<size_t> select_signals(const vesk::rt::array_view<vesk::rt::signal_exporter>& signals,
                                   const std::string& spec, std::vector<std::string>& unknown);

/// One output line: `head`, then " name=value" per signal. Numbers are written with up
/// to 15 significant digits, values not readable as numbers as "?", missing ones as "-".
std::string signal_line(const std::string& head, const std::vector<std::string>& names,
                        const std::vector<sample>& values);

/// Writes `line` and a line end to `out` and flushes, so a reading parent sees it at once.
/// Safe from several threads: lines are never mixed.
void print_line(std::ostream& out, const std::string& line);

}  // namespace linux_runtime
