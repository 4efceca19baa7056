#pragma once
// Folders removed a slice at a time on a timer, so that a build folder of any size never
// holds the loop: each is renamed to a hidden sibling at once, so that nothing finds it
// any more, and then emptied a bounded number of entries per slice.
#include <cstddef>
#include <filesystem>
#include <system_error>
#include <vector>

#include "io/event_list.h"
#include "io/timer.h"

namespace vesk {

/// The folders being removed, oldest first.
class folder_removals {
 public:
  /// Entries removed per slice: some 13 µs each, so a slice holds the loop about 15 ms.
  static constexpr size_t slice_entries = 1000;
  /// The pause between two slices, in which the loop serves everything else.
  static constexpr unsigned long slice_gap_ms = 10;

  explicit folder_removals(vesk::io::event_list& events);
  folder_removals(const folder_removals&) = delete;
  folder_removals& operator=(const folder_removals&) = delete;

  /// Removes `folder`: a folder is renamed at once to a hidden sibling
  /// (".<name>.removed-<n>") and emptied in slices; anything else is removed at once, a link
  /// without what it leads to. What an earlier back end left of such siblings, ended before
  /// they were empty, is taken up too. The error of the rename or removal, if any.
  std::error_code remove(const std::filesystem::path& folder);
  /// Removes the next slice; the timer's callback. An entry that cannot be removed ends the
  /// removal of its folder with an error line naming it.
  void slice();

 private:
  /// Takes up `hidden` unless it is being removed already.
  void take(const std::filesystem::path& hidden);

  /// Per folder being removed, the folders entered, deepest last; the first is the
  /// renamed folder itself.
  std::vector<std::vector<std::filesystem::path>> folders_;
  vesk::io::timer timer_;
};

}  // namespace vesk
