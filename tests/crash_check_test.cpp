// Show that the crash checker's parts judge crash states rightly: the fault shim traces every
// change in one order and dies right where it is told, the trace reads back byte for byte, the
// model keeps exactly what a killed process or a power failure keeps, and each promise catches
// the states that break it and lets the others pass.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/crash_check_model.h"
#include "tests/crash_check_promises.h"
#include "tests/crash_check_trace.h"
#include "tests/test_folder.h"

namespace ravel::crash_check {
namespace {

const std::string root = "/check";

std::string hex(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  if (bytes.empty()) return "-";
  std::string text;
  for (const char c : bytes) {
    text += digits[static_cast<unsigned char>(c) >> 4];
    text += digits[static_cast<unsigned char>(c) & 15];
  }
  return text;
}

TracedCall call(std::string name, std::vector<std::pair<std::string, std::string>> fields) {
  TracedCall traced;
  traced.call = std::move(name);
  for (auto& [key, value] : fields) {
    const bool text = key == "path" || key == "to" || key == "data";
    traced.fields.emplace(key, text ? hex(value) : value);
  }
  return traced;
}

TracedCall open_file(const std::string& name, int fd, int flags = O_WRONLY | O_CREAT) {
  return call(
      "open",
      {{"path", root + "/" + name}, {"fd", std::to_string(fd)}, {"flags", std::to_string(flags)}});
}
TracedCall open_folder(const std::string& name, int fd) {
  return call("open", {{"path", root + "/" + name},
                       {"fd", std::to_string(fd)},
                       {"flags", std::to_string(O_RDONLY | O_DIRECTORY)},
                       {"dir", "1"}});
}
TracedCall write_at(int fd, std::size_t offset, const std::string& data) {
  return call("write", {{"fd", std::to_string(fd)},
                        {"offset", std::to_string(offset)},
                        {"size", std::to_string(data.size())},
                        {"data", data}});
}
TracedCall sync(int fd) { return call("fsync", {{"fd", std::to_string(fd)}}); }
TracedCall cut(int fd, std::size_t size) {
  return call("truncate", {{"fd", std::to_string(fd)}, {"size", std::to_string(size)}});
}
TracedCall rename_to(const std::string& from, const std::string& to, unsigned flags = 0) {
  return call(
      "rename",
      {{"path", root + "/" + from}, {"to", root + "/" + to}, {"flags", std::to_string(flags)}});
}
TracedCall unlink_name(const std::string& name) {
  return call("unlink", {{"path", root + "/" + name}});
}

TEST(crash_check_trace_test, records_read_back_byte_for_byte) {
  const std::string line = "7 write fd=4 offset=3 size=3 path=2f612f62 data=000d0a";
  const TracedCall traced = parse_traced_call(line);
  EXPECT_EQ(traced.sequence, 7);
  EXPECT_EQ(traced.call, "write");
  EXPECT_EQ(traced.number("offset"), 3);
  EXPECT_EQ(traced.text("path"), "/a/b");
  EXPECT_EQ(traced.text("data"), std::string("\0\r\n", 3));
  EXPECT_EQ(parse_traced_call("1 close fd=3 path=-").text("path"), "");
  EXPECT_EQ(describe(traced, "/a"), "write b 3 bytes at 3");
  for (const char* broken : {"", "7", "7 write fd", "7 write path=2"}) {
    EXPECT_ANY_THROW(parse_traced_call(broken).text("path")) << broken;
  }
}

// The fault shim's calls, taken from the shim loaded into a child process of the test, as they
// reach a program that has the shim preloaded.
struct Shim {
  explicit Shim(void* module)
      : open(reinterpret_cast<int (*)(const char*, int, ...)>(::dlsym(module, "open"))),
        write(reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(::dlsym(module, "write"))),
        fsync(reinterpret_cast<int (*)(int)>(::dlsym(module, "fsync"))),
        close(reinterpret_cast<int (*)(int)>(::dlsym(module, "close"))),
        rename(reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(module, "rename"))) {}
  int (*open)(const char*, int, ...);
  ssize_t (*write)(int, const void*, size_t);
  int (*fsync)(int);
  int (*close)(int);
  int (*rename)(const char*, const char*);
};

// Runs `steps` on the shim in a child process that traces into `log` and is killed after the
// call `crash_after` (0: never); returns the child's wait status.
template <typename Steps>
int in_traced_child(const std::filesystem::path& log, std::size_t crash_after, Steps steps) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("RAVEL_TRACE", log.c_str(), 1);
    ::setenv("RAVEL_CRASH_AFTER", std::to_string(crash_after).c_str(), 1);
    void* module = ::dlopen(FAULT_SHIM, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) ::_exit(3);
    steps(Shim(module));
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

TEST(crash_check_shim_test, traces_each_change_and_dies_right_after_the_chosen_one) {
  const std::vector<std::string> changes = {"open",   "write", "fsync", "close",
                                            "rename", "open",  "fsync", "close"};
  for (std::size_t crash_after = 0; crash_after <= changes.size(); ++crash_after) {
    const ravel::testing::TestFolder folder, logs;
    const std::string root = std::filesystem::canonical(folder.path()).string();
    folder.write("in", "x");
    folder.write("out", "old");
    const Tree before = read_tree(root);
    const int status = in_traced_child(logs / "trace", crash_after, [&](const Shim& shim) {
      // Reading a file changes nothing and leaves no record.
      shim.close(shim.open((root + "/in").c_str(), O_RDONLY));
      const int file = shim.open((root + "/t").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      shim.write(file, "new", 3);
      shim.fsync(file);
      shim.close(file);
      shim.rename((root + "/t").c_str(), (root + "/out").c_str());
      const int synced = shim.open(root.c_str(), O_RDONLY | O_DIRECTORY);
      shim.fsync(synced);
      shim.close(synced);
    });

    const std::vector<TracedCall> calls = read_trace(logs / "trace");
    const std::size_t made = crash_after == 0 ? changes.size() : crash_after;
    std::vector<std::string> names;
    for (const TracedCall& call : calls) names.push_back(call.call);
    EXPECT_EQ(names, std::vector<std::string>(changes.begin(), changes.begin() + made))
        << "killed after " << crash_after;
    if (crash_after == 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_EQ(calls.at(1).text("data"), "new");
      EXPECT_EQ(calls.at(5).number("dir"), 1);
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << crash_after;
    }
    FileSystemModel model(root, before);
    model.apply(calls);
    EXPECT_EQ(model.now(), read_tree(root)) << "killed after " << crash_after;
  }
}

TEST(crash_check_shim_test, numbers_the_calls_of_two_threads_in_one_order) {
  const ravel::testing::TestFolder folder, logs;
  const std::string root = std::filesystem::canonical(folder.path()).string();
  constexpr int writes = 2000;
  const int status = in_traced_child(logs / "trace", 0, [&](const Shim& shim) {
    auto writer = [&](const std::string& name) {
      const int file = shim.open((root + "/" + name).c_str(), O_WRONLY | O_CREAT, 0644);
      for (int i = 0; i < writes; ++i) shim.write(file, name.data(), name.size());
      shim.close(file);
    };
    std::thread other(writer, "a");
    writer("bb");
    other.join();
  });
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Every record is whole and numbered one after the other, and together they make the files.
  const std::vector<TracedCall> calls = read_trace(logs / "trace");
  ASSERT_EQ(calls.size(), 2u * (writes + 2));
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].sequence, i + 1);
  FileSystemModel model(root, {});
  model.apply(calls);
  const Tree files = read_tree(root);
  EXPECT_EQ(model.now(), files);
  EXPECT_EQ(files.at("bb")->size(), 2u * writes);
}

TEST(crash_check_model_test, keeps_what_each_crash_keeps) {
  const Tree before = {{"run", std::nullopt}, {"run/out1.txt", "earlier rows"}};
  struct Case {
    const char* what;
    std::vector<TracedCall> calls;
    // run/out1.txt and run/.t after a kill, then after each kind of power failure; "-" for none.
    std::array<std::pair<std::string, std::string>, 3> kept;
  };
  const std::vector<Case> cases = {
      {"an unsynced write is lost",
       {open_file("run/out1.txt", 3), write_at(3, 0, "new")},
       {{{"newlier rows", "-"}, {"earlier rows", "-"}, {"earlier rows", "-"}}}},
      {"a truncation is lost until synced",
       {open_file("run/out1.txt", 3, O_WRONLY | O_TRUNC), write_at(3, 0, "new"), cut(3, 2)},
       {{{"ne", "-"}, {"earlier rows", "-"}, {"earlier rows", "-"}}}},
      {"a synced file keeps its content",
       {open_file("run/out1.txt", 3, O_WRONLY | O_TRUNC), write_at(3, 0, "new"), sync(3)},
       {{{"new", "-"}, {"new", "-"}, {"new", "-"}}}},
      {"a new name needs its folder synced",
       {open_file("run/.t", 3), write_at(3, 0, "new"), sync(3)},
       {{{"earlier rows", "new"}, {"earlier rows", "-"}, {"earlier rows", "new"}}}},
      {"a rename of an unsynced file keeps its name but not its content",
       {open_file("run/.t", 3), write_at(3, 0, "new"), rename_to("run/.t", "run/out1.txt")},
       {{{"new", "-"}, {"earlier rows", "-"}, {"", "-"}}}},
      {"a synced folder keeps the rename",
       {open_file("run/.t", 3), write_at(3, 0, "new"), sync(3), rename_to("run/.t", "run/out1.txt"),
        open_folder("run", 4), sync(4)},
       {{{"new", "-"}, {"new", "-"}, {"new", "-"}}}},
      {"a swap of names leaves the earlier file under the other name",
       {open_file("run/.t", 3), write_at(3, 0, "new"), sync(3),
        rename_to("run/.t", "run/out1.txt", RENAME_EXCHANGE)},
       {{{"new", "earlier rows"}, {"earlier rows", "-"}, {"new", "earlier rows"}}}},
      {"a write reaches its file after a rename",
       {open_file("run/.t", 3), rename_to("run/.t", "run/out1.txt"), write_at(3, 2, "w")},
       {{{std::string("\0\0w", 3), "-"}, {"earlier rows", "-"}, {"", "-"}}}},
      {"an unlink needs its folder synced",
       {unlink_name("run/out1.txt")},
       {{{"-", "-"}, {"earlier rows", "-"}, {"-", "-"}}}},
      {"calls outside the folder change nothing",
       {call("open", {{"path", "/elsewhere/out1.txt"}, {"fd", "3"}, {"flags", "65"}}),
        write_at(3, 0, "x"), call("unlink", {{"path", "/elsewhere/run/out1.txt"}})},
       {{{"earlier rows", "-"}, {"earlier rows", "-"}, {"earlier rows", "-"}}}},
  };
  for (const Case& c : cases) {
    FileSystemModel model(root, before);
    model.apply(c.calls);
    const std::array<Tree, 3> states = {model.now(),
                                        model.after_power_cut(PowerCut::synced_folders),
                                        model.after_power_cut(PowerCut::names_in_order)};
    for (std::size_t i = 0; i < states.size(); ++i) {
      for (const auto& [name, wanted] : {std::pair{std::string("run/out1.txt"), c.kept[i].first},
                                         std::pair{std::string("run/.t"), c.kept[i].second}}) {
        const auto found = states[i].find(name);
        const std::string kept = found == states[i].end() ? "-" : found->second.value_or("folder");
        EXPECT_EQ(kept, wanted) << c.what << ", state " << i << ", " << name;
      }
    }
  }
}

// Rows as the editions write them: plain, tinted, and with the text in a font tag.
const std::string earlier_report =
    "<html>\r\n<TR><TD><Font color=\"000000\">20</TD><TD>x</TD></TR>\r\n</table> </html>\r\n";
const std::string new_report =
    "<html>\r\n<TR bgcolor=\"#708090\"><TD><Font color=\"FFFFFF\">22</TD></TR>\r\n"
    "<TR><TD>21</TD></TR>\r\n</table> </html>\r\n";

Expectation batch_expectation() {
  Expectation expectation;
  expectation.kind = Kind::batch;
  expectation.report = "run/report_01-02-11.html";
  expectation.tables = {"run/out1.txt"};
  expectation.earlier = {{"run/bpdbjobs.txt", "22,a\r\n21,b\r\n20,c\r\n"},
                         {"run/jobid.txt", "20\r\n"},
                         {"run/out1.txt", "header\r\nearlier 1\r\nearlier 2\r\n"},
                         {expectation.report, earlier_report}};
  expectation.finished = expectation.earlier;
  expectation.finished["run/jobid.txt"] = "22\r\n";
  expectation.finished["run/out1.txt"] = "header\r\nnew\r\n";
  expectation.finished[expectation.report] = new_report;
  expectation.finished["run/report_01-02-11.1.html"] = earlier_report;
  return expectation;
}

TEST(crash_check_promises_test, reports_list_their_first_cells) {
  EXPECT_EQ(reported_jobs(earlier_report + new_report), (std::set<std::string>{"20", "21", "22"}));
}

TEST(crash_check_promises_test, each_broken_promise_is_found) {
  const Expectation expectation = batch_expectation();
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::optional<std::string>>> changes;
    std::string checks;
  };
  const std::vector<Case> cases = {
      {"the earlier files", {}, ""},
      {"the finished files",
       {{"run/jobid.txt", "22\r\n"},
        {"run/out1.txt", "header\r\nnew\r\n"},
        {"run/report_01-02-11.html", new_report},
        {"run/report_01-02-11.1.html", earlier_report}},
       ""},
      {"the earlier report replaced without being kept",
       {{"run/jobid.txt", "22\r\n"}, {"run/report_01-02-11.html", new_report}},
       "a"},
      {"a beginning of the new table", {{"run/out1.txt", "head"}}, ""},
      {"an emptied table", {{"run/out1.txt", ""}}, ""},
      {"new rows over the earlier table",
       {{"run/out1.txt", "header\r\nnew\r\ner 1\r\nearlier 2\r\n"}},
       "c"},
      {"a table gone", {{"run/out1.txt", std::nullopt}}, "c"},
      {"a partial report", {{"run/report_01-02-11.html", new_report.substr(0, 20)}}, "ar"},
      {"a partial report, the earlier one kept",
       {{"run/report_01-02-11.html", new_report.substr(0, 20)},
        {"run/report_01-02-11.1.html", earlier_report}},
       "r"},
      {"the report gone", {{"run/report_01-02-11.html", std::nullopt}}, "ar"},
      {"the marker moved without the report", {{"run/jobid.txt", "22\r\n"}}, "a"},
      {"the marker moved past a job the report lacks",
       {{"run/jobid.txt", "22\r\n"},
        {"run/report_01-02-11.html", "<TR><TD>22</TD></TR>\r\n</table> </html>\r\n"},
        {"run/report_01-02-11.1.html", earlier_report}},
       "ar"},
      {"the jobs in a report of another day",
       {{"run/jobid.txt", "22\r\n"}, {"run/report_31-01-11.html", new_report}},
       ""},
      {"the jobs in a hidden report only",
       {{"run/jobid.txt", "22\r\n"}, {"run/.report_01-02-11.html.7.tmp", new_report}},
       "a"},
  };
  for (const Case& c : cases) {
    Tree state = expectation.earlier;
    for (const auto& [path, content] : c.changes) {
      if (content) {
        state[path] = content;
      } else {
        state.erase(path);
      }
    }
    std::string found;
    for (const Finding& finding : check_crash_state(expectation, state)) found += finding.check;
    EXPECT_EQ(found, c.checks) << c.what;
  }
}

TEST(crash_check_promises_test, stored_listing_is_old_or_merged) {
  Expectation expectation;
  expectation.kind = Kind::update;
  expectation.earlier = {{"store/bpdbjobs.txt", "2,a\r\n1,b\r\n"}};
  expectation.finished = {{"store/bpdbjobs.txt", "3,c\r\n2,a\r\n1,b\r\n"}};
  for (const auto& [listing, broken] :
       std::vector<std::pair<std::string, bool>>{{"2,a\r\n1,b\r\n", false},
                                                 {"3,c\r\n2,a\r\n1,b\r\n", false},
                                                 {"3,c\r\n", true},
                                                 {"", true}}) {
    const Tree state = {{"store/bpdbjobs.txt", listing}};
    EXPECT_EQ(check_crash_state(expectation, state).size(), broken ? 1u : 0u) << listing;
  }
  EXPECT_EQ(check_crash_state(expectation, {}).size(), 1u);
}

TEST(crash_check_promises_test, next_run_must_complete_cleanly) {
  const Expectation expectation = batch_expectation();
  const Tree clean = expectation.finished;
  Tree hidden = clean;
  hidden["run/.jobid.txt.12.tmp"] = "22\r\n";
  Tree partial = clean;
  partial[expectation.report] = new_report.substr(0, 30);
  struct Case {
    const char* what;
    int status;
    const Tree& after;
    std::size_t findings;
  };
  for (const Case& c :
       {Case{"a clean run", 0, clean, 0}, Case{"a failed run", 1, clean, 1},
        Case{"a temporary left", 0, hidden, 1}, Case{"an incomplete report", 0, partial, 1}}) {
    EXPECT_EQ(check_next_run(expectation, c.status, "error", c.after).size(), c.findings) << c.what;
  }
}

}  // namespace
}  // namespace ravel::crash_check
