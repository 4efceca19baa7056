// The compiler places blocks and hands rasters on without walking every block in every
// pass. These tests run the plain pass-by-pass walks on random models and check that
// the compiler arrives at the same order and the same rasters.
#include <gtest/gtest.h>

#include <random>

#include "compiler/compiler_test_util.h"

using namespace compiler_test;

namespace {

struct random_model {
  std::vector<std::string> names;
  std::vector<std::vector<size_t>> sources;  // per block, the blocks its inputs read
  std::vector<bool> delay;
  std::vector<std::string> raster;           // "" for auto
};

random_model make_random(std::mt19937& rng, size_t n, bool with_rasters) {
  random_model m;
  std::uniform_int_distribution<size_t> pick(0, n - 1);
  for (size_t i = 0; i < n; ++i) {
    m.names.push_back("b" + std::to_string(pick(rng) * 1000 + i));  // random name order
    m.delay.push_back(!with_rasters && rng() % 7 == 0);
    m.raster.push_back(with_rasters && rng() % 5 == 0 ? (rng() % 2 ? "r1ms" : "r2ms") : "");
  }
  for (size_t i = 0; i < n; ++i) {
    std::vector<size_t> src;
    size_t k = m.delay[i] ? 1 : rng() % 3;
    for (size_t j = 0; j < k; ++j) src.push_back(pick(rng));
    m.sources.push_back(src);
  }
  return m;
}

std::string to_model(const random_model& m) {
  std::vector<std::string> nodes;
  for (size_t i = 0; i < m.names.size(); ++i) {
    std::string inputs, expression = "1";
    for (size_t j = 0; j < m.sources[i].size(); ++j) {
      std::string pin = m.delay[i] ? "in" : "i" + std::to_string(j);
      inputs += (j ? "," : "") + in(pin, m.names[m.sources[i][j]]);
      if (!m.delay[i]) expression += "+" + pin;
    }
    std::string extra = m.raster[i].empty() ? "" : ",\"raster\":\"" + m.raster[i] + "\"";
    nodes.push_back(m.delay[i] ? base(m.names[i], "delay", "{" + inputs + "}", "", extra)
                               : expr(m.names[i], expression, "{" + inputs + "}", extra));
  }
  return model(nodes);
}

/// Indices of the blocks sorted by name.
std::vector<size_t> by_name(const random_model& m) {
  std::vector<size_t> idx(m.names.size());
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = i;
  std::sort(idx.begin(), idx.end(), [&](size_t a, size_t b) { return m.names[a] < m.names[b]; });
  return idx;
}

/// n passes; each walks the remaining blocks from the last name to the first.
std::pair<std::string, std::vector<std::string>> plain_order(const random_model& m) {
  std::vector<size_t> rest = by_name(m);
  std::vector<bool> placed(m.names.size(), false);
  std::string order;
  for (size_t pass = 0; pass < m.names.size(); ++pass) {
    for (size_t i = rest.size(); i-- > 0;) {
      size_t x = rest[i];
      bool ready = m.delay[x];
      if (!ready) {
        ready = true;
        for (size_t s : m.sources[x]) ready = ready && placed[s];
      }
      if (!ready) continue;
      placed[x] = true;
      order += (order.empty() ? "" : " ") + m.names[x];
      rest.erase(rest.begin() + static_cast<long>(i));
    }
  }
  std::vector<std::string> loop;
  for (size_t x : rest) loop.push_back(m.names[x]);
  return {order, loop};
}

/// Passes in name order while something changed, each handling every block that has a
/// raster and was not handled yet.
std::vector<std::string> plain_rasters(random_model m) {
  std::vector<size_t> order = by_name(m);
  std::vector<bool> handled(m.names.size(), false);
  bool changed = true;
  for (size_t pass = 0; pass < m.names.size() && changed; ++pass) {
    changed = false;
    for (size_t x : order) {
      if (m.raster[x].empty() || handled[x]) continue;
      handled[x] = true;
      auto give = [&](size_t to) {
        if (!m.raster[to].empty()) return;
        m.raster[to] = m.raster[x];
        changed = true;
      };
      for (size_t d : order)  // readers in name order, then the sources in pin order
        for (size_t s : m.sources[d])
          if (s == x) give(d);
      for (size_t s : m.sources[x]) give(s);
    }
  }
  for (auto& r : m.raster)
    if (r.empty()) r = "r10ms";
  return m.raster;
}

TEST(Passes, OrderMatchesThePassByPassWalk) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 150; ++round) {
    random_model m = make_random(rng, 2 + rng() % 25, false);
    fixture f;
    f.compile(to_model(m));
    auto [order, loop] = plain_order(m);
    const std::string got = placed_order(f);
    if (loop.empty()) {
      EXPECT_FALSE(f.c.error) << to_model(m);
      EXPECT_EQ(got, order) << to_model(m);
    } else {
      EXPECT_TRUE(f.c.error);
      EXPECT_EQ(f.info.lines, loop) << to_model(m);
    }
  }
}

TEST(Passes, RastersMatchThePassByPassWalk) {
  std::mt19937 rng(777);
  for (int round = 0; round < 150; ++round) {
    random_model m = make_random(rng, 2 + rng() % 25, true);
    fixture f;
    f.compile(to_model(m));
    std::vector<std::string> want = plain_rasters(m);
    for (size_t i = 0; i < m.names.size(); ++i)
      EXPECT_EQ(f.c.nodes[m.names[i]]->raster, want[i]) << m.names[i] << " in " << to_model(m);
  }
}

}  // namespace
