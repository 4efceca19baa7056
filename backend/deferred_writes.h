#pragma once
// Files the back end writes on the editor's command, written once for a burst of changes:
// a change marks its file, and a short timer (or an explicit flush, before something reads
// that file or the back end ends) writes each marked file once, with what it holds then.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "io/event_list.h"
#include "io/timer.h"

namespace vesk {

/// The pending writes, one per owner of a file, in the order first marked.
class deferred_writes {
 public:
  /// How long a change waits for the changes that follow it before it is written.
  static constexpr unsigned long delay_ms = 200;

  explicit deferred_writes(vesk::io::event_list& events);
  /// Drops what is still pending: its owners, gone before it, wrote their files as they went.
  ~deferred_writes();
  deferred_writes(const deferred_writes&) = delete;
  deferred_writes& operator=(const deferred_writes&) = delete;

  /// Marks `file` of `owner` changed; `write` stores it when the time comes. A mark for an
  /// owner already pending changes nothing: its write takes what the owner holds then.
  void mark(const void* owner, const std::filesystem::path& file, std::function<void()> write);
  /// Writes the pending file of `owner` now, if it has one: before the file is read back
  /// or its owner goes.
  void flush(const void* owner);
  /// Writes the pending writes of `file` now (links followed), and no other: before that
  /// file is read, replaced or removed, so that the other files keep their one write.
  void flush_file(const std::filesystem::path& file);
  /// Writes every pending file now but those of the `kept` owners, which wait for their
  /// timer: before a build, which reads the project's files and none of the user's.
  void flush_except(const std::vector<const void*>& kept);
  /// Writes every pending file now.
  void flush();
  /// Whether a write is pending for `owner`.
  bool pending(const void* owner) const;

 private:
  /// Runs one write; a write that throws is logged and the others still run.
  static void run(const std::function<void()>& write);

  /// One pending write: whose, of which file (followed to its end), and how.
  struct entry {
    const void* owner;
    std::filesystem::path file;
    std::function<void()> write;
  };
  /// Writes the pending writes that `now` picks, in the order marked; the others stay.
  void flush_where(const std::function<bool(const entry&)>& now);
  std::vector<entry> pending_;
  vesk::io::timer timer_;
};

}  // namespace vesk
