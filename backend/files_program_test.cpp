// The real vesk, driven over its GUI WebSocket: a managed file's pushes through save
// points, undo, redo and an outside edit; the bound on its history; the block list after a
// new node source; files that cannot be read; a burst of changes written once, by the timer
// when nothing asks for it, and never over another program's edit.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "backend/core_test_util.h"
#include "backend/model_link_test_util.h"
#include "foundation/helpers.h"

namespace fs = std::filesystem;
using core_test::editor;
using core_test::program;
using core_test::slurp;

namespace {

// The contents of the "read_file" messages for `file` seen from position `from` on.
std::vector<std::string> read_files(editor& e, const fs::path& file, size_t from = 0) {
  std::vector<std::string> out;
  for (size_t i = from; i < e.seen.size(); ++i) {
    vesk::json& m = e.seen[i];
    if (m.is_object() && m["cmd"] == "read_file" && m["file_name"].get_string() == file.string())
      out.push_back(m["file"].get_string());
  }
  return out;
}

TEST(FilesProgram, OpenChangeUndoRedoAndOutsideEditArePushedInOrder) {
  program p;
  fs::path file = p.tmp.put(fs::path("my ws/demo/views/v.json").string(), "A");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  ASSERT_TRUE(e.open());
  const std::string name = file.string();
  auto request = [&](const char* cmd, const char* content = nullptr) {
    vesk::json r{{"cmd", cmd}, {"file_name", name}};
    if (content) r["content"] = content;
    e.send(r);
  };
  auto pushes = [&](size_t n) {
    return e.wait_for([&](vesk::json&) { return read_files(e, file).size() >= n; }, 10000) >= 0;
  };

  request("open_file");
  ASSERT_TRUE(pushes(1));
  request("add_save_point", "B");  // the sender gets no echo of its own save point
  request("undo");
  ASSERT_TRUE(pushes(2));
  EXPECT_TRUE(core_test::eventually([&] { return read_file(name) == "A"; })) << "undo writes within a moment";
  request("redo");
  ASSERT_TRUE(pushes(3));
  EXPECT_TRUE(core_test::eventually([&] { return read_file(name) == "B"; }));
  // Answered after the write has fully ended: the edit below is not taken for our own.
  ASSERT_TRUE(e.answers());

  std::ofstream(file, std::ios::trunc) << "E";  // another program edits the file
  shift_write_time(file, 3);
  ASSERT_TRUE(pushes(4)) << "outside edit not pushed within a poll";
  request("undo");
  ASSERT_TRUE(pushes(5));
  EXPECT_EQ((std::vector<std::string>{"A", "A", "B", "E", "B"}), read_files(e, file));
  EXPECT_TRUE(core_test::eventually([&] { return read_file(name) == "B"; }));

  // The exact bytes of one push.
  std::string want = vesk::json{{"cmd", "read_file"}, {"file_name", name}, {"file", "B"}}.dump("  ");
  std::string last;
  for (const std::string& r : e.raw)
    if (r.find("\"read_file\"") != std::string::npos) last = r;
  EXPECT_EQ(want, last);
  EXPECT_TRUE(e.answers()) << "back end still serving";
}

TEST(FilesProgram, SavePointsOfALargeFileKeepTheHistoryWithinItsBound) {
#ifndef VESK_SANITIZE
  const int versions = 64;  // of 2 MiB, of which the file keeps 64 MiB
#else
  const int versions = 8;  // the quarantine holds freed memory back: the memory is not checked
#endif
  program p;
  fs::path file = p.tmp.put(fs::path("my ws/demo/views/v.json").string(), "A");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  e.send(vesk::json{{"cmd", "open_file"}, {"file_name", file.string()}});
  std::string text(2 << 20, 'a');
  for (int i = 0; i < versions; ++i)
    e.send(vesk::json{{"cmd", "add_save_point"}, {"file_name", file.string()}, {"content", text.replace(0, 1, 1, char('0' + i))}});
  e.send(vesk::json{{"cmd", "undo"}, {"file_name", file.string()}});
  ASSERT_GE(e.wait_for([&](vesk::json&) { return read_files(e, file).size() == 2; }, 30000), 0);
  text[0] = static_cast<char>('0' + versions - 2);
  EXPECT_TRUE(text == read_files(e, file)[1]) << "undo: not the version before";
  // The file is written within a short delay of the change.
  EXPECT_TRUE(core_test::eventually([&] { return text == read_file(file.string()); })) << "undo: not written";
#ifndef VESK_SANITIZE  // the sanitizer's quarantine holds freed memory back
  EXPECT_LT(p.peak_memory_kib(), 112u << 10) << "the versions sent would hold 128 MiB";
#endif
}

TEST(FilesProgram, NewNodeSourceChangesTheBlockListWithinAPollAndDeletionIsNotified) {
  program p;
  fs::path model = p.tmp.put(fs::path("my ws/demo/models/m.vmdl").string(), R"({"model_is_node":1})");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  ASSERT_TRUE(e.open());
  e.send(std::string(R"({"cmd":"get_blk_list"})"));
  int first = e.wait_cmd("get_blk_list");
  ASSERT_GE(first, 0);
  EXPECT_EQ(R"({"cmd":"get_blk_list","prj":[{"type":"base","name":"m","cfg":{"node":"reference","mdl":"m","prj":"demo"}}],"ws":{}})",
            e.seen[first].dump());

  p.tmp.put(fs::path("my ws/demo/nodes/gain.h").string(), "//@node: class\nclass gain {\n};\n");
  int next = e.wait_for([](vesk::json& m) { return m["cmd"] == "get_blk_list" && m["prj"].size() == 2; }, 6000,
                        first + 1);
  ASSERT_GE(next, 0) << "block list not resent within a poll";
  EXPECT_EQ(R"({"type":"class","name":"gain","cfg":{"class":"gain","prj":"demo"}})",
            e.seen[next]["prj"].array_elements()[1].dump());

  fs::remove(model);
  int gone = e.wait_cmd("delete_notification", "", 6000, next + 1);
  ASSERT_GE(gone, 0);
  EXPECT_EQ(vesk::json({{"cmd", "delete_notification"}, {"file_name", model.string()}}).dump(), e.seen[gone].dump());
}

TEST(FilesProgram, UnreadableFilesAreSkippedOnceAndOutsideEditsStillArrive) {
  program p;
  const fs::path gone = p.tmp.path / "gone";
  const std::vector<std::pair<const char*, fs::path>> links = {  // in the workspace: dangling or looping
      {"demo/models/old.vmdl", gone / "old.vmdl"}, {"demo/nodes/loop.h", "loop.h"},
      {"other/views/old.json", gone / "v.json"},   {"other/nodes/loop.cpp", "loop.cpp"}};
  for (const auto& [link, to] : links) {
    fs::create_directories((p.ws / link).parent_path());
    fs::create_symlink(to, p.ws / link);
  }
  const fs::path view = p.tmp.put(fs::path("my ws/demo/views/v.json").string(), "A");
  ASSERT_TRUE(p.start_running()) << p.out();
  editor e(p.gui_port);
  e.send(vesk::json{{"cmd", "open_file"}, {"file_name", view.string()}});
  ASSERT_GE(e.wait_cmd("read_file"), 0);
  // Two outside edits of the open file, so two polls: a warning repeated by every poll would show.
  for (const char* text : {"E", "F"}) {
    std::ofstream(view, std::ios::trunc) << text;
    shift_write_time(view, 3);
    ASSERT_GE(e.wait_for([&](vesk::json& m) { return m["cmd"] == "read_file" && m["file"] == text; }), 0) << text;
  }
  const std::string out = p.out();
  for (const auto& [link, to] : links) {
    const std::string line = "Unable to open file: " + (p.ws / link).string() + "; the file is skipped";
    EXPECT_TRUE(out.find(line) != std::string::npos && out.find(line) == out.rfind(line)) << link << "\n" << out;
  }
  // Changed, yet still unreadable (a socket cannot be opened): warned about once more.
  const std::string old_line = "Unable to open file: " + (p.ws / links[0].first).string() + "; the file is skipped";
  const auto warnings = [&] { return core_test::occurrences(p.out(), old_line); };
  fs::create_directories(gone);
  ASSERT_EQ(::mknod((gone / "old.vmdl").c_str(), S_IFSOCK | 0600, 0), 0);
  EXPECT_TRUE(core_test::eventually([&] { return warnings() == 2; }));
  fs::remove(gone / "old.vmdl");
  p.tmp.put("gone/old.vmdl", "{}");  // mended: taken in at its next change
  EXPECT_GE(e.wait_for([&](vesk::json& m) { return m["state"]["file_list"]["models"].size() == 1; }), 0);
  EXPECT_EQ(warnings(), 2u);
}

TEST(FilesProgram, ABurstOfChangesIsWrittenOnceAndNothingIsLostOnStop) {
  // Each row: the command of change i, the file it writes, and what the file then holds;
  // what another program writes into it, what asks for it when no push shows it, and
  // whether a build reads it (else the build writes nothing of it: it waits for its timer).
  const struct {
    const char* file;  // below the test folder
    std::function<vesk::json(int)> change;
    const char* last;
    const char* outside;  // holds "by hand", which the back end shows once it read it
    const char* probe;
    bool built = true;
    bool shared = false;  // a file that several back ends share: the edit is taken in with the change
  } rows[] = {
      {"home/.config/vesk/model_perspectives.json",
       [](int i) { return vesk::json{{"cmd", "set_perspective"}, {"mdl", "m" + std::to_string(i)}, {"perspective", "v" + std::to_string(i)}}; },
       "\"m99\": \"v99\"", R"({"m0": "by hand"})", R"({"cmd":"get_perspective","mdl":"m0"})", false, true},
      {"home/.config/vesk/vesk.cfg",
       [](int i) { return vesk::json{{"cmd", "write_vesk_config"}, {"cfg", vesk::json{{"hg_tool", "v" + std::to_string(i)}}}}; },
       "\"hg_tool\": \"v99\"", R"({"git_tool": "by hand"})", nullptr, false, true},
      {"my ws/demo/demo.vcfg",
       [](int i) { return vesk::json{{"cmd", "write_prj_config"}, {"cfg", vesk::json{{"model", "v" + std::to_string(i)}, {"runtime", "sim"}}}}; },
       "\"model\": \"v99\"", R"({"model": "by hand", "runtime": "sim"})", nullptr},
      {"my ws/demo/views/v.json",
       [](int i) { return vesk::json{{"cmd", "add_save_point"}, {"file_name", ""}, {"content", "v" + std::to_string(i)}}; },
       "v99", "by hand", nullptr},
      {"my ws/demo/models/m.vmdl",
       [](int i) { return vesk::json{{"cmd", "add_save_point"}, {"file_name", ""}, {"content", "{\"v\": \"v" + std::to_string(i) + "\"}"}}; },
       "v99", R"({"v": "by hand"})", nullptr},
  };
  for (const auto& r : rows) {
    program p;
    const fs::path file = p.tmp.path / r.file;
    const fs::path copy = p.tmp.path / "copy.txt";
    const fs::path held = r.change(0).contains("file_name") ? file : p.prj / "views/v.json";
    p.tmp.put(held.lexically_relative(p.tmp.path).string(), "{}");
    // The build's copy of the file, as it was when the build started.
    p.stub_cli("cp '" + file.string() + "' '" + copy.string() + "'");
    ASSERT_TRUE(p.start_running()) << p.out();
    editor e(p.gui_port);
    e.send(vesk::json{{"cmd", "open_file"}, {"file_name", held.string()}});
    ASSERT_TRUE(e.answers());
    auto change = [&](int i) {
      vesk::json c = r.change(i);
      if (c.contains("file_name")) c["file_name"] = held.string();
      e.send(c);
    };
    // Every write of the back end replaces the file by a rename into its folder.
    auto renames = [&](int watch) {
      size_t n = 0;
      alignas(inotify_event) char events[1 << 16];
      for (ssize_t got; (got = ::read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len) {
          const inotify_event* ev = reinterpret_cast<inotify_event*>(at);
          if ((ev->mask & IN_MOVED_TO) && ev->len && file.filename() == ev->name) ++n;
        }
      }
      return n;
    };
    // Nothing asks for the file: the timer writes it.
    change(200);
    ASSERT_TRUE(core_test::eventually([&] { return slurp(file).find("v200") != std::string::npos; })) << r.file;
    // Another program writes the file while a change waits: its text stays, and is read;
    // in a shared file, with the change made to it. Where the back end's write came first
    // or crossed the edit, another change is tried.
    const int edited = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(edited, file.parent_path().c_str(), IN_MOVED_TO), 0);
    const std::string warning = file.string() + " was changed by another program";
    const size_t before = e.seen.size();
    bool warned = false, merged = false;
    for (int i = 201; i < 210 && !warned && !merged; ++i) {
      change(i);
      ASSERT_TRUE(e.answers());
      std::ofstream(file, std::ios::trunc) << r.outside;
      core_test::eventually([&] { return (warned = p.out().find(warning) != std::string::npos) || renames(edited); });
      const std::string now = slurp(file);
      merged = r.shared && now.find("by hand") != std::string::npos &&
               now.find(vesk::json("v" + std::to_string(i)).dump()) != std::string::npos;
    }
    ::close(edited);
    ASSERT_TRUE(r.shared ? merged && !warned : warned) << r.file << slurp(file);
    if (r.probe) e.send(std::string(r.probe));
    EXPECT_GE(e.wait_for([](vesk::json& m) { return m.dump().find("by hand") != std::string::npos; }, 10000, before), 0)
        << r.file;
    if (!r.shared) {
      EXPECT_EQ(slurp(file), r.outside);
    }
    EXPECT_EQ(core_test::occurrences(p.out(), warning), r.shared ? 0u : 1u) << r.file;
    const int watch = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(watch, file.parent_path().c_str(), IN_MOVED_TO), 0);
    const auto sent = fs::file_time_type::clock::now();
    for (int i = 0; i < 99; ++i) change(i);
    e.send(R"({"cmd":"build"})");
    ASSERT_TRUE(core_test::eventually([&] { return !slurp(copy).empty(); })) << r.file;
    // A file no build reads waits for its timer, which cannot have run when the build
    // started within 150 ms of the burst (a busy machine may start it later).
    if (r.built || fs::last_write_time(copy) < sent + std::chrono::milliseconds(150)) {
      EXPECT_EQ(slurp(copy).find("v98") != std::string::npos, r.built) << r.file << slurp(copy);
    }
    // The last change is still waiting for its write when the back end is stopped.
    change(99);
    ASSERT_TRUE(e.answers());
    EXPECT_EQ(p.stop(SIGTERM), 0);
    EXPECT_NE(slurp(file).find(r.last), std::string::npos) << r.file << slurp(file);
    const size_t writes = renames(watch);
    ::close(watch);
    // The burst, the build's flush and the stop's: one each at most, not one per change.
    EXPECT_LE(writes, 3u) << r.file;
    EXPECT_GE(writes, 1u) << r.file;
  }
}

TEST(FilesProgram, TwoBackEndsOnOneHomeKeepEachOthersChanges) {
  // Two projects open at once under one home: each changes a key of the user configuration
  // and a model's perspective, all before either back end writes; every change stays, with
  // the key neither reads, and each back end takes in the other's.
  program a, b;
  b.home = a.home;
  const fs::path user = a.home / ".config/vesk";
  a.tmp.put("home/.config/vesk/vesk.cfg", R"({"colour": "red"})");
  ASSERT_TRUE(a.start_running()) << a.out();
  ASSERT_TRUE(b.start_running()) << b.out();
  editor ea(a.gui_port), eb(b.gui_port);
  const struct {
    editor& e;
    editor& other;
    const char* key;
    vesk::json value;
    const char* model;
  } rows[] = {{ea, eb, "git_tool", "tig", "alpha"}, {eb, ea, "history_size_sec", 60.0, "beta"}};
  for (const auto& r : rows) {
    r.e.send(vesk::json{{"cmd", "write_vesk_config"}, {"cfg", vesk::json{{r.key, r.value}}}});
    r.e.send(vesk::json{{"cmd", "set_perspective"}, {"mdl", r.model}, {"perspective", r.model}});
  }
  for (const auto& r : rows) {
    const std::string want = r.value.dump();
    EXPECT_GE(r.other.wait_for([&](vesk::json& m) {
      return m["cmd"] == "backend_state" && m["state"]["vesk_config"][r.key].dump() == want;
    }), 0) << r.key;
    const std::string asked = vesk::json{{"cmd", "get_perspective"}, {"mdl", r.model}}.dump();
    EXPECT_TRUE(core_test::eventually([&] {
      const size_t from = r.other.seen.size();
      r.other.send(asked);
      const int at = r.other.wait_cmd("get_perspective", "", 10000, from);
      return at >= 0 && r.other.seen[at]["perspective"] == r.model;
    })) << r.model;
  }
  EXPECT_EQ(a.stop(SIGTERM), 0);
  EXPECT_EQ(b.stop(SIGTERM), 0);
  vesk::json cfg = vesk::json::parse(slurp(user / "vesk.cfg"));
  vesk::json perspectives = vesk::json::parse(slurp(user / "model_perspectives.json"));
  EXPECT_EQ(cfg["colour"], "red");
  for (const auto& r : rows) {
    EXPECT_EQ(cfg[r.key].dump(), r.value.dump()) << r.key;
    EXPECT_EQ(perspectives[r.model], r.model);
  }
  for (program* p : {&a, &b}) EXPECT_EQ(p->out().find("was changed by another program"), std::string::npos) << p->out();
}

}  // namespace
