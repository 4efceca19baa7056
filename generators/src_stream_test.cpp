#include "generators/src_stream.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <typeinfo>

TEST(SrcStream, IndentsEachStatementWhenItIsFlushed) {
  std::map<std::string, src_stream> files;  // streams live as map values
  src_stream& s = files["a.h"];
  s << "a;" << std::endl;
  indent(s, 2) << "b;";
  indent(s, 2);  // the indentation at the flush counts
  EXPECT_EQ(s.text.str(), "a;\n");  // nothing arrives before the flush
  s << std::endl;
  indent(s, -2);
  s << "one\ntwo" << std::endl << std::flush;  // only a flush's first line is indented, even an empty one
  EXPECT_EQ(s.text.str(), "a;\n    b;\n  one\ntwo\n  ");
  // A reset keeps the indentation and pending text.
  s << "pending";
  reset_stream(s);
  s << std::endl;
  EXPECT_EQ(s.text.str(), "  pending\n");
  indent(s, -5);  // unbalanced decreases stop at zero instead of wrapping round
  EXPECT_EQ(s.indentation, 0u);
  std::ostringstream os;
  EXPECT_THROW(indent(os, 2), std::bad_cast);
}
