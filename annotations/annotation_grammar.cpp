// The annotation grammar works on one comment at a time, line by line. Every element
// consumes at least one character or ends the line, and every scan stops at the end of
// the text, so a comment is read in linear time whatever it holds.

#include <map>
#include <ostream>
#include <string>
#include <utility>

#include "annotations/annotation_comment.h"
#include "annotations/text_scan.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

namespace {

/// The info text without the "* " that begins it and each of its later lines. One
/// pass, so a long comment costs linear time.
std::string without_star_prefixes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = text.compare(0, 2, "* ") == 0 ? 2 : 0;
  for (; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\n' && text.compare(i + 1, 2, "* ") == 0) i += 2;
  }
  return out;
}

/// The working set of one comment and its two grammar levels.
class comment_reader {
 public:
  comment_reader(const std::string& text, unsigned long line_nr, parser_state& state,
                 const std::string& file_name)
      : t_(text), line_nr_(line_nr), state_(state), file_name_(file_name) {}

  /// The line being read.
  const unsigned long& line_nr() const { return line_nr_; }

  /// One line: optional "* " prefix, elements, the action, the line feed. False when
  /// the text ends (the last line still got its action).
  bool parse_annotation_line() {
    if (pos_ < t_.size() && t_[pos_] == '*') pos_ = skip_blanks(t_, pos_ + 1);
    const size_t line_start = pos_;
    while (pos_ < t_.size() && t_[pos_] != '\n') parse_annotation_element();
    if (found_) {
      if (!leftover_.empty())
        log_err << location(file_name_, line_nr_) << "Something went wrong here: \""
                << t_.substr(line_start, pos_ - line_start)
                << "\". Most likely you forgot a ';' or a ':'?" << std::endl;
      // The working set is emptied below anyway; its texts can move.
      handle_annotation(std::move(name_), std::move(option_), std::move(params_), line_nr_, state_,
                        file_name_);
    }
    leftover_.clear();
    option_.clear();
    found_ = false;
    params_.clear();
    ++line_nr_;
    if (pos_ >= t_.size()) return false;
    ++pos_;  // the line feed
    return true;
  }

 private:
  /// End of an option or parameter value: up to ";", a line feed, "//" or the end.
  size_t value_end(size_t p) const {
    while (p < t_.size() && t_[p] != ';' && t_[p] != '\n' &&
           !(t_[p] == '/' && p + 1 < t_.size() && t_[p + 1] == '/'))
      ++p;
    return p;
  }
  size_t line_end(size_t p) const {
    while (p < t_.size() && t_[p] != '\n') ++p;
    return p;
  }

  /// One element at a position that is neither a line feed nor the end.
  void parse_annotation_element() {
    if (t_[pos_] == '@' && (parse_info() || parse_annotation())) return;
    if (t_[pos_] == '/' && pos_ + 2 < t_.size() && t_[pos_ + 1] == '/' && t_[pos_ + 2] != '\n') {
      pos_ = line_end(pos_ + 2);  // a nested line comment is ignored
      return;
    }
    size_t end = line_end(pos_);
    leftover_ = t_.substr(pos_, end - pos_);
    pos_ = end;
  }

  /// "@info": the rest of the whole comment is the node's documentation.
  bool parse_info() {
    size_t p = skip_blanks(t_, pos_ + 1);
    if (t_.compare(p, 4, "info") != 0) return false;
    p = skip_blanks(t_, p + 4);
    if (p < t_.size() && t_[p] == ':') ++p;
    if (p < t_.size() && t_[p] == '\n') ++p;
    pos_ = t_.size();
    if (p >= t_.size()) return true;
    if (!state_.current_block || !take(state_, file_name_, line_nr_, 0, 0, t_.size() - p)) return true;
    state_.current_block->info = without_star_prefixes(t_.substr(p, t_.size() - 1 - p));
    return true;
  }

  /// "@name: option; key: value; ..." or the call form "@name(args) -> target".
  bool parse_annotation() {
    size_t p = skip_blanks(t_, pos_ + 1);
    size_t end = identifier_end(t_, p);
    if (end == p) return false;
    name_ = t_.substr(p, end - p);
    p = end;
    size_t q = skip_blanks(t_, p);
    size_t value = q < t_.size() && t_[q] == ':' ? skip_blanks(t_, q + 1) : std::string::npos;
    size_t option_end = value != std::string::npos ? value_end(value) : value;
    if (value != std::string::npos && option_end > value) {
      option_ = t_.substr(value, option_end - value);
      p = option_end;
    } else if (q < t_.size() && (t_[q] == '(' || t_.compare(q, 2, "->") == 0)) {
      option_ = t_.substr(p);
      p = t_.size();
    }
    found_ = true;
    while (p < t_.size() && t_[p] == ';') {
      size_t key = skip_blanks(t_, p + 1);
      size_t key_end = identifier_end(t_, key);
      if (key_end == key) break;
      size_t colon = skip_blanks(t_, key_end);
      if (colon >= t_.size() || t_[colon] != ':') break;
      size_t v = skip_blanks(t_, colon + 1);
      size_t v_end = value_end(v);
      if (v_end == v) break;
      std::string k = t_.substr(key, key_end - key);
      if (params_.count(k))
        log_warn << location(file_name_, line_nr_) << "Parameter \"" << k << "\" allready assigned!"
                 << std::endl;
      else
        params_.emplace(std::move(k), t_.substr(v, v_end - v));
      p = v_end;
    }
    if (p < t_.size() && t_[p] == ';') p = skip_blanks(t_, p + 1);
    pos_ = p;
    return true;
  }

  const std::string& t_;
  size_t pos_ = 0;
  unsigned long line_nr_;
  parser_state& state_;
  const std::string& file_name_;
  std::string name_;
  std::string option_;
  std::map<std::string, std::string> params_;
  bool found_ = false;
  std::string leftover_;
};

}  // namespace

void parse_annotations(std::string text, unsigned long line_nr, parser_state& state,
                       std::string file_name) {
  comment_reader reader(text, line_nr, state, file_name);
  // What an annotation's handling writes, however deep, names the annotation's line.
  log_place place(file_name, reader.line_nr());
  while (!state.taken.spent && reader.parse_annotation_line()) {
  }
}

}  // namespace vesk::annotations
