#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>

/// Output stream that collects generated source in memory. Each flush moves
/// what was written since the previous flush into `text`, with `indentation`
/// blanks in front, so writers need not know how deep they stand.
class src_stream : public std::ostream {
 public:
  /// Buffer whose sync hands the pending text to its owner, indented.
  class src_buf : public std::stringbuf {
   public:
    explicit src_buf(src_stream* owner_stream);
    ~src_buf() override;

    src_stream* owner;

   protected:
    int sync() override;
  };

  src_stream();
  ~src_stream() override;
  src_stream(const src_stream&) = delete;
  src_stream& operator=(const src_stream&) = delete;

  src_buf buf;
  std::stringstream text;
  uint64_t indentation = 0;
  /// The line ends moved into `text` so far: where a writer stands, without copying it.
  uint64_t line_ends = 0;
  /// The bytes moved into `text` so far.
  uint64_t bytes = 0;
};

/// The line ends written to `s`, flushed or not: the lines a writer has completed.
uint64_t lines_written(const src_stream& s);

/// The bytes written to `s`, flushed or not (indentation counted once flushed).
uint64_t bytes_written(const src_stream& s);

/// Adds `n` blanks of indentation to the src_stream behind `os` (clamped at
/// zero); throws std::bad_cast when `os` is no src_stream.
std::ostream& indent(std::ostream& os, int n);

/// Empties the collected text of `s` (and its counts of line ends and bytes) and clears its error
/// flags; keeps the indentation and text not yet flushed.
void reset_stream(src_stream& s);
