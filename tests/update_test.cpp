#include "console/update.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

#include "pipeline/failure.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

std::string jobs(std::initializer_list<int> ids) {
  std::string text;
  for (int id : ids) text += std::to_string(id) + ",0,3,job" + std::to_string(id) + "\r\n";
  return text;
}

class update_test : public ::testing::Test {
 protected:
  UpdateOutcome update(const std::string& update_text) {
    store.write("update.txt", update_text);
    const Folder at(store.path());
    return update_stored_listing(at, newest_stored_job(at), store / "update.txt");
  }
  testing::TestFolder store;
};

TEST_F(update_test, new_jobs_go_in_front_of_the_stored_listing) {
  const struct {
    std::string update;
    UpdateOutcome outcome;
    std::string stored_after;
    std::string merge_after;
  } cases[] = {
      {jobs({5216, 5215, 5214, 5213, 5212, 5211, 5210, 5209}), UpdateOutcome::finished,
       jobs({5216, 5215, 5214, 5213, 5212, 5211, 5210, 5209, 5208}), ""},
      {jobs({5211, 5210}), UpdateOutcome::finished, jobs({5211, 5210, 5209, 5208}), ""},
      {jobs({5216, 5215, 5214, 5213}), UpdateOutcome::not_proper, jobs({5210, 5209, 5208}),
       jobs({5216, 5215, 5214, 5213})},
      {"", UpdateOutcome::not_proper, jobs({5210, 5209, 5208}), ""},
      // A dump that skipped 5211, or one no newer than the listing: the stored job ends the copy.
      {jobs({5213, 5212, 5210, 5209}), UpdateOutcome::finished,
       jobs({5213, 5212, 5210, 5209, 5208}), ""},
      {jobs({5210, 5209}), UpdateOutcome::finished, jobs({5210, 5209, 5208}), ""},
      {"5212 ,a\n 5211.0,b\n", UpdateOutcome::finished,
       "5212 ,a\r\n 5211.0,b\r\n" + jobs({5210, 5209, 5208}), ""},
  };
  for (const auto& c : cases) {
    store.write("bpdbjobs.txt", jobs({5210, 5209, 5208}));
    std::filesystem::remove(store / "temp.txt");
    EXPECT_EQ(update(c.update), c.outcome) << c.update;
    EXPECT_EQ(store.read("bpdbjobs.txt"), c.stored_after) << c.update;
    if (c.outcome == UpdateOutcome::finished) {
      EXPECT_FALSE(store.exists("temp.txt"));
    } else {
      EXPECT_EQ(store.read("temp.txt"), c.merge_after);
    }
  }
}

TEST_F(update_test, failures_leave_the_stored_listing_unchanged) {
  const struct {
    const char* name;
    std::optional<std::string> stored;
    std::string update;
    ErrorCode code;
    std::optional<std::string> merge_after;
  } cases[] = {
      {"no stored listing", std::nullopt, jobs({1}), ErrorCode::file_not_found, std::nullopt},
      {"empty stored listing", "", jobs({1}), ErrorCode::input_past_end, std::nullopt},
      {"first stored line without comma", "5210\r\n", jobs({5211}), ErrorCode::invalid_call,
       std::nullopt},
      {"update line without comma", jobs({5210}), "5213,a\r\n5212\r\n5211,c\r\n",
       ErrorCode::invalid_call, "5213,a\r\n5212\r\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(store / "bpdbjobs.txt");
    std::filesystem::remove(store / "temp.txt");
    if (c.stored) store.write("bpdbjobs.txt", *c.stored);
    try {
      update(c.update);
      ADD_FAILURE() << c.name;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), c.code) << c.name << ": " << failure.message();
    }
    if (c.stored) {
      EXPECT_EQ(store.read("bpdbjobs.txt"), *c.stored) << c.name;
    }
    EXPECT_EQ(store.exists("temp.txt"), c.merge_after.has_value()) << c.name;
    if (c.merge_after) {
      EXPECT_EQ(store.read("temp.txt"), *c.merge_after) << c.name;
    }
  }
}

TEST_F(update_test, missing_update_file_leaves_an_empty_merge_file) {
  store.write("bpdbjobs.txt", jobs({5210}));
  try {
    update_stored_listing(Folder(store.path()), 5210, store / "no-such-dump.txt");
    FAIL();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.code(), ErrorCode::file_not_found);
  }
  EXPECT_EQ(store.read("temp.txt"), "");
  EXPECT_EQ(store.read("bpdbjobs.txt"), jobs({5210}));
}

// The store's own files, by any name, would be emptied before they are read: nothing changes.
TEST_F(update_test, the_stores_own_files_are_refused_as_update_files) {
  store.write("bpdbjobs.txt", jobs({5211, 5210}));
  store.write("temp.txt", jobs({5212, 5211}));
  testing::TestFolder elsewhere;
  std::vector<std::filesystem::path> updates = {store / "bpdbjobs.txt", store / "temp.txt",
                                                store / "." / "bpdbjobs.txt"};
  // Where the system makes them: wine, for one, makes no symbolic links.
  std::error_code no_link;
  std::filesystem::create_symlink(store / "bpdbjobs.txt", elsewhere / "listing-link.txt", no_link);
  if (!no_link) updates.push_back(elsewhere / "listing-link.txt");
  std::filesystem::create_hard_link(store / "temp.txt", elsewhere / "merge-link.txt", no_link);
  if (!no_link) updates.push_back(elsewhere / "merge-link.txt");
  for (const std::filesystem::path& update : updates) {
    try {
      update_stored_listing(Folder(store.path()), 5210, update);
      ADD_FAILURE() << update << " merged";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code(), ErrorCode::path_file_access) << failure.message();
    }
    EXPECT_EQ(store.read("bpdbjobs.txt"), jobs({5211, 5210})) << update;
    EXPECT_EQ(store.read("temp.txt"), jobs({5212, 5211})) << update;
  }
}

TEST_F(update_test, job_number_is_the_lenient_number_before_the_first_comma) {
  EXPECT_EQ(job_number("5210,a,b"), 5210);
  EXPECT_EQ(job_number(" 52 10x,a"), 5210);
  EXPECT_EQ(job_number("abc,1"), 0);
  EXPECT_EQ(job_number(",1"), 0);
  EXPECT_EQ(job_number("5210"), std::nullopt);
}

}  // namespace
}  // namespace ravel
