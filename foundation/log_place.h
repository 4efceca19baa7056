#pragma once
// Where the messages being written are about. A reader of user files names the file and
// the block (or the line) once, around its work; every warning and error written within
// then carries that place, so no message of a deeper function goes out without it.

#include <string>

namespace vesk {

/// While it lives, every log_warn and log_err message that does not already name the
/// place gets it: a suffix place is appended as " in " + place ("block 'smooth' of model
/// file m.vmdl"), a source_line place is put in front as place + " ", the form of every
/// message about a line of a node source ("nodes/a.h:12 unknown annotation: x"). Places
/// nest; the innermost counts, as it names the most. Owned by one scope; not copyable.
class log_place {
 public:
  enum kind_t { suffix, source_line };
  explicit log_place(std::string place, kind_t kind = suffix);
  /// A source_line place naming `file` at the line that `line` holds whenever a message
  /// is written ("nodes/a.h:12"): a parser that counts its lines moves it without making a
  /// text per line. Both must outlive the place.
  log_place(const std::string& file, const unsigned long& line);
  ~log_place();
  log_place(const log_place&) = delete;
  log_place& operator=(const log_place&) = delete;

  /// Names another place from now on (a parser moving to its next line); a place made
  /// on a line counter names this text from then on.
  void set(std::string place);

  /// `text` with the innermost place added as above; unchanged when no place lives or
  /// the text names it already.
  static std::string placed(const std::string& text);
  /// The innermost place if it is a suffix place, else "": for a line that puts the place
  /// in its middle.
  static std::string suffix_place();

 private:
  /// The place as it is named now.
  std::string text() const;
  std::string place_;
  kind_t kind_;
  log_place* outer_;
  const std::string* file_ = nullptr;  ///< with line_: the file of a place made on a line counter
  const unsigned long* line_ = nullptr;
};

}  // namespace vesk
