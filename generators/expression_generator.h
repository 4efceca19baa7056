#pragma once

#include <string>
#include <vector>

#include "generators/generator.h"

namespace vesk {

/// Generator of "expression" blocks: one C++ expression whose free
/// identifiers are the block's inputs and whose value is its output.
class expression_generator : public generator {
 public:
  /// function, output_name, output_type, type_header, disable_output.
  std::vector<vesk::property> get_properties() override;
  /// Keys that are neither in the form nor "container_header"; a checkbox read as false.
  std::vector<vesk::config_warning> check_config() override;
  /// View "expr": one "auto" input per free identifier (sorted), and the
  /// output pin unless "disable_output" is set.
  vesk::view_config get_view_config() override;
  /// The trimmed "type_header", else the trimmed "container_header".
  std::vector<std::string> get_headers() override;
  /// `out = expression;`, or `expression;` with the output disabled.
  void write_tick(std::ostream& os) override;
  /// "decltype(" + rewritten expression + ")".
  std::string get_output_type() override;

  /// The expression with every input name replaced by its variable; string
  /// literals and member names after "." or "->" are left as typed.
  std::string rewrite_expression();

 private:
  /// Whether the block has its output ("disable_output" not set).
  bool output_on();
};

/// A stretch of an expression text: [begin, end) byte positions.
struct text_span {
  size_t begin;
  size_t end;
};

/// String literals ("..." without escapes) in `text`, left to right.
std::vector<text_span> string_literal_spans(const std::string& text);
/// Member accesses ("." or "->" and the member name) in `text`, left to right.
std::vector<text_span> member_spans(const std::string& text);
/// Identifiers (a letter, then letters, digits, '_') in `text`, left to right.
std::vector<text_span> identifier_spans(const std::string& text);

}  // namespace vesk
