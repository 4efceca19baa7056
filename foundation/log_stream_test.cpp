#include "foundation/log_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <sstream>

#include "foundation/bt_exception.h"
#include "foundation/log_capture.h"
#include "foundation/test_util.h"

namespace {

TEST(LogStream, OneTrailingLineFeedIsDroppedFromLongerTexts) {
  log_capture cap(log_info);
  log_info << "abc" << std::endl;
  log_info << "abc\n\n" << std::flush;
  log_info << "\n" << std::flush;
  log_info << std::flush;
  log_info << "a\nb\n";
  EXPECT_EQ(4u, cap.lines.size());
  log_info << "c" << std::endl;
  EXPECT_EQ((std::vector<std::string>{"abc", "abc\n", "\n", "", "a\nb\nc"}), cap.lines);
}

TEST(LogStream, DisabledOrSinklessStreamsDropAndClear) {
  log_capture cap(log_warn);
  log_warn.enabled = false;
  log_warn << "hidden" << std::endl;
  log_warn.enabled = true;
  log_warn << "shown" << std::endl;
  auto sink = log_warn.sink;
  log_warn.sink = nullptr;
  log_warn << "lost" << std::endl;
  log_warn.sink = sink;
  log_warn << "x" << std::endl;
  EXPECT_EQ((std::vector<std::string>{"shown", "x"}), cap.lines);
}

TEST(LogStream, SilencerRestoresTheFlagAlsoOnException) {
  log_debug.enabled = true;
  try {
    log_silencer quiet(log_debug);
    EXPECT_FALSE(log_debug.enabled);
    throw std::runtime_error("x");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(log_debug.enabled);
}

TEST(LogStream, DefaultSinksPrintThePrefix) {
  std::ostringstream out;
  auto* old = std::cout.rdbuf(out.rdbuf());
  make_stdout_sink("Info:  ")("abc", 3);
  make_stdout_sink("Error: ")("xyz", 2);
  std::cout.rdbuf(old);
  EXPECT_EQ("Info:  abc\nError: xy\n", out.str());
}

TEST(LogPrintf, ClampsToTheBufferAndNeedsASink) {
  log_capture cap(log_info);
  log_printf(log_info, "Build %s...", "model");
  std::string longer(400, 'x');
  log_printf(log_info, "%s", longer.c_str());
  EXPECT_EQ((std::vector<std::string>{"Build model...", std::string(255, 'x')}), cap.lines);
  auto sink = log_info.sink;
  log_info.sink = nullptr;
  EXPECT_THROW(log_printf(log_info, "x"), std::bad_function_call);
  log_info.sink = sink;
}

TEST(BtException, KeepsMessageAndFrames) {
  expect_throw_what<vesk::util::bt_exception>([] { throw_bt_exception("stopped at 7"); }, "stopped at 7");
  vesk::util::bt_exception e("x");
  EXPECT_GT(e.frame_count, 0);
  EXPECT_LE(e.frame_count, 40);
}

}  // namespace
