#include "generators/src_stream.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <typeinfo>

TEST(SrcStream, IndentsEachFlushedStatement) {
  src_stream s;
  s << "a;" << std::endl;
  indent(s, 2);
  indent(s, 2);
  s << "b;" << std::endl;
  indent(s, -2);
  s << "c;" << std::endl;
  EXPECT_EQ(s.text.str(), "a;\n    b;\n  c;\n");
}

TEST(SrcStream, TextArrivesOnlyOnFlush) {
  src_stream s;
  indent(s, 2);
  s << "x = 1;";
  EXPECT_EQ(s.text.str(), "");
  s << std::endl;
  EXPECT_EQ(s.text.str(), "  x = 1;\n");
}

TEST(SrcStream, MultiLineFlushIndentsOnlyFirstLine) {
  src_stream s;
  indent(s, 4);
  s << "one\ntwo" << std::endl;
  EXPECT_EQ(s.text.str(), "    one\ntwo\n");
}

TEST(SrcStream, EmptyFlushStillWritesBlanksAndIndentAppliesToBufferedText) {
  src_stream s;
  s << "pending";
  indent(s, 3);
  s << std::flush;
  s << std::flush;
  EXPECT_EQ(s.text.str(), "   pending   ");
}

TEST(SrcStream, IndentChainsInInsertions) {
  src_stream s;
  indent(s, 2) << "y;" << std::endl;
  EXPECT_EQ(s.text.str(), "  y;\n");
}

TEST(SrcStream, ResetKeepsIndentationAndPendingText) {
  src_stream s;
  indent(s, 2);
  s << "old;" << std::endl;
  s << "pending";
  reset_stream(s);
  EXPECT_EQ(s.text.str(), "");
  s << std::endl;
  EXPECT_EQ(s.text.str(), "  pending\n");
  EXPECT_EQ(s.indentation, 2u);
}

TEST(SrcStream, IndentOnOtherStreamThrowsBadCast) {
  std::ostringstream os;
  EXPECT_THROW(indent(os, 2), std::bad_cast);
  os << "x";
  EXPECT_EQ(os.str(), "x");
}

TEST(SrcStream, DecreaseBelowZeroClampsInsteadOfWrapping) {
  src_stream s;
  indent(s, 2);
  indent(s, -5);
  EXPECT_EQ(s.indentation, 0u);
  s << "z;" << std::endl;
  EXPECT_EQ(s.text.str(), "z;\n");
}

TEST(SrcStream, StreamsLiveAsMapValues) {
  std::map<std::string, src_stream> files;
  files["a.h"] << "#pragma once" << std::endl;
  indent(files["b.h"], 2) << "int b;" << std::endl;
  EXPECT_EQ(files["a.h"].text.str(), "#pragma once\n");
  EXPECT_EQ(files["b.h"].text.str(), "  int b;\n");
}
