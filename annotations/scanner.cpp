// The source scanner splits a node source into lines, comments and {} blocks. Block
// comments and "//@" comments go to the annotation grammar; code lines go to the
// declaration grammar while an annotation waits for its declaration (or when they
// mention a namespace). The body of an automatic class is collected in its block's text
// and read again when the class closes.
//
// Block texts live in a block_texts store (see block_text.h), and the declaration
// grammar sees one shared bracket object standing in for whichever block is current,
// so deep nesting costs a few words per open brace and nothing per line.

#include "annotations/scanner.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <cstdint>
#include <exception>
#include <functional>
#include <ostream>
#include <string_view>
#include <utility>

#include "annotations/annotation_comment.h"
#include "annotations/block_text.h"
#include "annotations/declarations.h"
#include "annotations/parser_state.h"
#include "annotations/text_scan.h"
#include "foundation/helpers.h"
#include "foundation/log_place.h"
#include "foundation/log_stream.h"

namespace vesk::annotations {

namespace {

/// An open {} block: where it began and its text.
struct block {
  uint64_t line_nr = 0;     ///< line of its "{"; 0 for the root and for stray blocks
  uint64_t first_line = 0;  ///< source line that is line 0 of its text; 0: no line feeds
  block_texts::text_ref text;
  /// The class node whose class body this block is, for the names it declares.
  std::shared_ptr<block_class> body_of;
};

/// Adds every identifier of `text` to `names`.
void add_names(const std::string& text, std::set<std::string>& names) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!(std::isalpha(c) || c == '_')) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) ++end;
    if (!(i > 0 && std::isdigit(static_cast<unsigned char>(text[i - 1])))) names.insert(text.substr(i, end - i));
    i = end;
  }
}

class scanner {
 public:
  explicit scanner(const std::string& path) : path_(path), proxy_(std::make_shared<bracket>()) {
    state_.dir = std::filesystem::path(path).parent_path();
    stack_.push_back(block{0, 1, {}, nullptr});
    state_.current_bracket = proxy_;
  }

  /// The line loop over the whole text.
  void run(const std::string& text) {
    t_ = text;
    texts_.reserve(text.size());
    size_t pos = 0;
    for (;;) {
      pos = skip_blanks(t_, pos);
      const size_t line_start = pos;
      while (pos < t_.size() && t_[pos] != '\n') pos = scan_source(pos);
      end_of_line(t_.substr(line_start, pos - line_start));
      if (pos >= t_.size() || state_.taken.spent) break;
      ++pos;
    }
  }

  /// A node still open at the end of the text joins the result if it verifies.
  void close_last_node() {
    if (state_.current_block && state_.current_block->verify())
      state_.result.push_back(state_.current_block);
  }

  parser_state& state() { return state_; }
  int64_t bracket_counter() const { return bracket_counter_; }
  /// Where the braces went wrong: the first "}" without its "{" when there are more of
  /// them, else the "{" of the outermost block still open.
  uint64_t unbalanced_line() const {
    if (bracket_counter_ < 0) return first_stray_line_;
    return stack_.size() > 1 ? stack_[1].line_nr : line_nr_;
  }
  uint64_t line_nr() const { return line_nr_; }

 private:
  /// Where a text run stops: a line feed, "{", "}", "//", "/*" or "*/".
  bool is_stop(size_t p) const {
    char c = t_[p];
    if (c == '\n' || c == '{' || c == '}') return true;
    if (p + 1 >= t_.size()) return false;
    char d = t_[p + 1];
    return (c == '/' && (d == '/' || d == '*')) || (c == '*' && d == '/');
  }

  /// End of the text run starting at `p`: most characters cannot stop a run, so
  /// only those that can are looked at closely.
  size_t run_end(size_t p) const {
    static const auto may_stop = [] {
      std::array<bool, 256> table{};
      for (unsigned char c : {'\n', '{', '}', '/', '*'}) table[c] = true;
      return table;
    }();
    while (p < t_.size() && !(may_stop[static_cast<unsigned char>(t_[p])] && is_stop(p))) ++p;
    return p;
  }

  /// One scanning step at a position that is not a line feed; returns the position
  /// after what it consumed (always at least one character).
  size_t scan_source(size_t pos) {
    const char c = t_[pos];
    if (is_blank(c)) return skip_blanks(t_, pos);
    if (!is_stop(pos)) {
      size_t end = run_end(pos + 1);
      code_line_.assign(t_, pos, end - pos);
      return end;
    }
    if (c == '}') {
      handle_bracket();
      return pos + 1;
    }
    if (c == '/' && t_[pos + 1] == '*') {
      in_block_comment_ = true;
      comment_line_ = line_nr_;
      write(current(), code_line_);
      code_line_.clear();
      return pos + 2;
    }
    if (c == '*') {
      in_block_comment_ = false;
      comment_text_ += code_line_;
      code_line_.clear();
      std::string text = std::move(comment_text_);
      comment_text_.clear();
      parse_annotations(std::move(text), comment_line_, state_, path_);
      return pos + 2;
    }
    if (c == '/') {
      size_t end = pos + 2;
      while (end < t_.size() && t_[end] != '\n') ++end;
      line_comment(t_.substr(pos + 2, end - pos - 2));
      return end;
    }
    open_bracket();
    return pos + 1;
  }

  void line_comment(std::string_view rest) {
    if (in_block_comment_) {
      comment_text_ += code_line_;
      comment_text_ += "//";
      comment_text_ += rest;
      code_line_.clear();
    } else if (!rest.empty() && rest[0] == '@') {
      if (log_debug.enabled)
        log_debug << location(path_, line_nr_) << "ilc content: " << rest << "  pre: '"
                  << code_line_ << "'" << std::endl;
      parse_annotations(std::string(rest), line_nr_, state_, path_);
    }
  }

  void open_bracket() {
    if (in_block_comment_) {
      comment_text_ += code_line_;
      comment_text_ += '{';
    } else {
      write(current(), code_line_);
      ++bracket_counter_;
      stack_.push_back(block{line_nr_, line_nr_, {}, nullptr});
      on_stray_ = false;
      stray_closer_ = nullptr;
      if (state_.expect == expect_auto_body) ++state_.auto_depth;
    }
    code_line_.clear();
    state_.bracket_on_line = true;
  }

  void end_of_line(std::string_view line) {
    if (in_block_comment_) {
      comment_text_ += code_line_;
      comment_text_ += '\n';
    } else {
      write(current(), code_line_);
      if ((state_.expect != expect_nothing && state_.expect != expect_auto_body) ||
          line.find("namespace") != std::string::npos)
        call_parse_cpp_line(std::string(line), line_nr_);
      // The class line of a class node that opened its body: the body's names are read
      // when it closes.
      if (state_.class_head && state_.bracket_on_line && !on_stray_ && stack_.size() > 1 &&
          stack_.back().line_nr == line_nr_)
        stack_.back().body_of = state_.class_head;
      state_.class_head.reset();
    }
    code_line_.clear();
    ++line_nr_;
    state_.bracket_on_line = false;
  }

  void handle_bracket() {
    if (in_block_comment_) {
      comment_text_ += code_line_;
      comment_text_ += '}';
      code_line_.clear();
      return;
    }
    if (current().line_nr == line_nr_) {
      close_same_line_block();
      return;
    }
    write(current(), code_line_);
    if (state_.expect == expect_auto_body) --state_.auto_depth;
    if (log_debug.enabled)
      log_debug << location(path_, line_nr_) << " block_end: " << code_line_
                << "  bc: " << bracket_counter_ << " buac:" << state_.auto_depth << std::endl;
    if (state_.expect == expect_auto_body && state_.auto_depth == 0) reparse_auto_class(current());
    if (current().body_of) read_body_names(current());
    --bracket_counter_;
    if (stack_.size() < 2) {
      // A "}" without its "{": the root stays, later text goes to a block of its own.
      if (first_stray_line_ == 0) first_stray_line_ = line_nr_;
      stray_ = block{};
      stray_closer_ = nullptr;
      on_stray_ = true;
    } else {
      run_closer();
      stack_.pop_back();
    }
    code_line_.clear();
  }

  /// A block closed on the line of its "{" is folded into its parent's text.
  void close_same_line_block() {
    write(stack_.back(), code_line_);
    if (stack_.size() < 2) {
      --bracket_counter_;
      code_line_.clear();
      return;
    }
    block closed = stack_.back();
    run_closer();
    stack_.pop_back();
    texts_.fold(stack_.back().text, closed.text, line_nr_);
    if (state_.expect == expect_auto_body) --state_.auto_depth;
    --bracket_counter_;
    code_line_.clear();
  }

  /// The body of an automatic class is complete: read its lines as declarations.
  void reparse_auto_class(const block& b) {
    state_.expect = expect_auto_reparse;
    texts_.for_each_line(b.text, b.first_line, [this, &b](uint64_t k, const std::string& line) {
      call_parse_cpp_line(line, b.line_nr + k);
    });
    state_.expect = expect_nothing;
  }

  /// The names a class body declares (not those of its methods' bodies, which are texts
  /// of their own) go to its class node.
  void read_body_names(const block& b) {
    // A node verified already (a later @node inside the body ended it) stays as verified.
    if (state_.ccb != b.body_of) return;
    block_class& c = *b.body_of;
    c.body_names.clear();
    texts_.for_each_line(b.text, b.first_line, [&c](uint64_t, const std::string& line) { add_names(line, c.body_names); });
    c.body_read = true;
  }

  block& current() { return on_stray_ ? stray_ : stack_.back(); }

  /// Appends to a block's text on the current line.
  void write(block& b, std::string_view text) { texts_.write(b.text, line_nr_, text); }

  /// The declaration grammar sees the current block through the shared bracket
  /// object; its close action is moved in and back out around the call.
  void call_parse_cpp_line(const std::string& line, uint64_t line_nr) {
    proxy_->line_nr = current().line_nr;
    proxy_->on_close = take_closer();
    state_.current_bracket = proxy_;
    {
      // What the declaration grammar writes names the line it reads.
      const unsigned long read = line_nr;
      log_place place(path_, read);
      parse_cpp_line(line, line_nr, state_, path_);
    }
    std::function<void()> closer = std::move(proxy_->on_close);
    proxy_->on_close = nullptr;
    if (!closer) return;
    if (on_stray_)
      stray_closer_ = std::move(closer);
    else
      closers_.emplace_back(stack_.size() - 1, std::move(closer));
  }

  std::function<void()> take_closer() {
    std::function<void()> f;
    if (on_stray_) {
      f = std::move(stray_closer_);
      stray_closer_ = nullptr;
    } else if (!closers_.empty() && closers_.back().first == stack_.size() - 1) {
      f = std::move(closers_.back().second);
      closers_.pop_back();
    }
    return f;
  }

  void run_closer() {
    if (std::function<void()> f = take_closer()) f();
  }

  const std::string& path_;
  std::string_view t_;
  parser_state state_;
  std::shared_ptr<bracket> proxy_;
  uint64_t line_nr_ = 1;
  bool in_block_comment_ = false;
  uint64_t comment_line_ = 1;
  std::string code_line_;
  std::string comment_text_;
  int64_t bracket_counter_ = 0;
  uint64_t first_stray_line_ = 0;  ///< line of the first "}" without its "{"; 0: none yet
  std::vector<block> stack_;  ///< the open blocks, root at the bottom
  block stray_;               ///< current block after a surplus "}" (not on the stack)
  bool on_stray_ = false;
  block_texts texts_;
  /// Close actions of open blocks by stack depth (only namespace blocks have one).
  std::vector<std::pair<size_t, std::function<void()>>> closers_;
  std::function<void()> stray_closer_;
};

void report_abort(const std::string& path, uint64_t line_nr, const char* what) {
  try {
    log_err << location(path, line_nr) << "Parsing stopped: " << what << std::endl;
  } catch (...) {
  }
}

}  // namespace

std::vector<std::shared_ptr<block_base>> parse_text(const std::string& text,
                                                    const std::string& path,
                                                    const std::string& project,
                                                    parse_budget* cost) {
  std::vector<std::shared_ptr<block_base>> result;
  if (cost != nullptr) *cost = parse_budget{};
  uint64_t line_nr = 0;
  try {
    scanner s(path);
    {
      log_silencer quiet(log_debug);
      try {
        s.run(text);
        s.close_last_node();
      } catch (const std::exception& e) {
        report_abort(path, s.line_nr(), e.what());
      }
    }
    line_nr = s.line_nr();
    // A parse stopped by a bound leaves blocks open; its one error line says why.
    if (s.bracket_counter() != 0 && !s.state().taken.spent)
      log_warn << location(path, s.unbalanced_line())
               << "Not all {}-blocks are closed or to many closed blocks. Bracketcounter: "
               << s.bracket_counter()
               << (s.bracket_counter() < 0 ? " (the first '}' without its '{')"
                                           : " (the first block still open begins here)")
               << std::endl;
    parser_state& state = s.state();
    // Every node gets its own copy of the file's lists, path and project.
    size_t shared = path.size() + project.size();
    for (const std::string& l : state.links) shared += l.size();
    for (const std::string& f : state.compile_files) shared += f.size();
    // Charged even when a bound stopped the parse: the nodes kept are within it.
    size_t& bytes = state.taken.bytes;
    const size_t room = shared == 0 ? state.result.size() : (kMaxTextPerFile - bytes) / shared;
    const size_t keep = std::min(state.result.size(), room);
    bytes += keep * shared;
    if (keep < state.result.size()) {
      spend(state, path, state.result[keep]->src_line, kMaxTextPerFile, kTextBound);
      state.result.resize(keep);
    }
    for (const std::shared_ptr<block_base>& node : state.result) {
      for (parameter& p : node->parameters) p.update_form();
      node->file_name = path;
      node->libs = state.links;
      node->additional_files = state.compile_files;
      node->project = project;
    }
    result = std::move(state.result);
    if (cost != nullptr) *cost = state.taken;
  } catch (const std::exception& e) {
    report_abort(path, line_nr, e.what());
  } catch (...) {
    report_abort(path, line_nr, "unknown error");
  }
  return result;
}

std::vector<std::shared_ptr<block_base>> parse_file(const std::string& path,
                                                    const std::string& project,
                                                    parse_budget* cost) {
  const std::string text = read_file(path);
  return parse_text(text, path, project, cost);
}

}  // namespace vesk::annotations
