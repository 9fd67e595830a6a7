#include "gate/leaves/leaf_naming.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"
#include "temp_dir.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Short waits keep the tests fast; the retry logic is the same.
constexpr CounterWaitPolicy kQuickWait{3, 1, 2};

class LeafNaming : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.Dir();
    root_ = dir_.substr(0, dir_.size() - 1);
  }

  LeafFileSet Files(const std::string& image_ext = ".jpg") const {
    return LeafFileSet{dir_, image_ext, ".txt"};
  }
  // The directory's names but idle slot files (empty, kept for the next posting).
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_)) {
      if (!testing::IsIdleSlot(entry)) names.insert(entry.path().filename());
    }
    return names;
  }

  std::string Counter() const { return dir_ + "counter.txt"; }
  // Runs one naming with a draft of the given content, finished when a name was claimed.
  template <typename Naming>
  LeafNamingResult Post(Naming naming, const std::string& image_ext = ".jpg",
                        const std::string& image = "image", const std::string& record = "record") {
    LeafDraft draft(Files(image_ext), image, record);
    LeafNamingResult result = naming(draft);
    if (result.outcome == LeafNamingOutcome::Claimed) draft.Finish();
    return result;
  }

  TempDir temp_;
  fs::path root_;
  std::string dir_;
};

TEST_F(LeafNaming, FreshCounterIsCreatedAndTheFirstNameIsOne) {
  TWebModule1 module;
  EXPECT_EQ(module.NextCounterFileName(Counter(), "leaf####", root_.string(), ".jpg", ".txt"),
            "leaf0001");
  EXPECT_EQ(ReadBytes(Counter()), "1");
  // The name comes back reserved: both files exist, empty, for the caller to fill.
  EXPECT_EQ(Listing(), (std::set<std::string>{"counter.txt", "leaf0001.jpg", "leaf0001.txt"}));
  EXPECT_EQ(ReadBytes(dir_ + "leaf0001.jpg"), "");
}

// Postings that find no counter file at once: one makes it, and one that finds it before
// its maker has locked it uses it first. Every posting gets its own name and none fails.
TEST_F(LeafNaming, PostingsRacingToMakeTheCounterAllClaimANumber) {
  constexpr int kRounds = 100;
  constexpr int kPostings = 6;
  for (int round = 0; round < kRounds; ++round) {
    const std::string counter = dir_ + "c" + std::to_string(round) + ".cnt";
    const LeafFileSet files{dir_, ".jpg", ".r" + std::to_string(round)};
    std::vector<std::future<std::string>> postings;
    for (int p = 0; p < kPostings; ++p) {
      postings.push_back(std::async(std::launch::async, [&] {
        LeafDraft draft(files, "", "");
        LeafNamingResult result = ClaimCounterName(counter, "n###", draft, {200, 1, 3});
        if (result.outcome != LeafNamingOutcome::Claimed) return std::string("not claimed");
        draft.Finish();
        return result.name;
      }));
    }
    std::set<std::string> names;
    for (auto& posting : postings) ASSERT_NO_THROW(names.insert(posting.get())) << round;
    ASSERT_EQ(names, (std::set<std::string>{"n001", "n002", "n003", "n004", "n005", "n006"}))
        << round;
    for (const std::string& name : names) {
      fs::remove(dir_ + name + ".jpg");
      fs::remove(dir_ + name + files.record_ext);
    }
  }
}

TEST_F(LeafNaming, CounterSkipsNamesWhoseRecordOrImageExists) {
  WriteBytes(Counter(), "41\r\n");
  WriteBytes(dir_ + "leaf0042.txt", "taken");
  LeafNamingResult result =
      Post([&](LeafDraft& draft) { return ClaimCounterName(Counter(), "leaf####", draft); });
  ASSERT_EQ(result.outcome, LeafNamingOutcome::Claimed);
  EXPECT_EQ(result.name, "leaf0043");
  EXPECT_EQ(ReadBytes(dir_ + "leaf0043.jpg"), "image");
  EXPECT_EQ(ReadBytes(dir_ + "leaf0043.txt"), "record");
  EXPECT_EQ(ReadBytes(Counter()), "43");
  EXPECT_EQ(ReadBytes(dir_ + "leaf0042.txt"), "taken");
  EXPECT_EQ(Listing(),
            (std::set<std::string>{"counter.txt", "leaf0042.txt", "leaf0043.jpg", "leaf0043.txt"}));
}

// The counter is rewritten in place and keeps its permissions.
TEST_F(LeafNaming, RewrittenCounterKeepsItsPermissions) {
  const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  WriteBytes(Counter(), "5");
  fs::permissions(Counter(), kept);
  EXPECT_EQ(Post([&](LeafDraft& d) { return ClaimCounterName(Counter(), "leaf####", d); }).name,
            "leaf0006");
  EXPECT_EQ(ReadBytes(Counter()), "6");
  EXPECT_EQ(fs::status(Counter()).permissions(), kept);
}

TEST_F(LeafNaming, TemplateSearchFromOneSkipsEitherFile) {
  WriteBytes(dir_ + "001.jpg", "x");
  WriteBytes(dir_ + "002.txt", "x");
  TWebModule1 module;
  EXPECT_EQ(module.NextTemplateFileName("###", root_.string(), ".jpg", ".txt"), "003");
  EXPECT_TRUE(fs::exists(dir_ + "003.txt"));
  // With another image type only that image and the record make a name taken.
  EXPECT_EQ(module.NextTemplateFileName("###", dir_, ".png", ".txt"), "001");
  EXPECT_EQ(module.NextTemplateFileName("###", dir_, ".png", ".txt"), "004");
}

TEST_F(LeafNaming, StampTakesSuffixesThatNeverAccumulate) {
  const std::string stamp = "20240102-030405-678";
  const auto naming = [&](LeafDraft& draft) { return ClaimStampName(stamp, draft); };
  EXPECT_EQ(Post(naming).name, stamp);
  EXPECT_EQ(Post(naming).name, stamp + "000");
  EXPECT_EQ(Post(naming).name, stamp + "001");
}

TEST_F(LeafNaming, EveryNameTakenAnswersNoNameAndWritesNothing) {
  for (char digit = '0'; digit <= '9'; ++digit) WriteBytes(dir_ + "x" + digit + ".txt", "");
  WriteBytes(dir_ + "fixed.jpg", "");
  const std::string stamp = "20240102-030405-678";
  WriteBytes(dir_ + stamp + ".txt", "");
  WriteBytes(dir_ + stamp + "000.jpg", "");
  WriteBytes(dir_ + stamp + "001.txt", "");
  WriteBytes(Counter(), "7");
  const std::set<std::string> before = Listing();

  using Naming = std::function<LeafNamingResult(LeafDraft&)>;
  struct Case {
    const char* label;
    Naming naming;
    const char* image_ext;
  };
  const Case cases[] = {
      {"template with one #", [](LeafDraft& d) { return ClaimTemplateName("x#", d); }, ".jpg"},
      {"template without #", [](LeafDraft& d) { return ClaimTemplateName("fixed", d); }, ".jpg"},
      {"counter with one #",
       [&](LeafDraft& d) { return ClaimCounterName(Counter(), "x#", d, kQuickWait); }, ".jpg"},
      {"counter without #",
       [&](LeafDraft& d) { return ClaimCounterName(Counter(), "fixed", d, kQuickWait); }, ".jpg"},
      {"missing counter",
       [&](LeafDraft& d) { return ClaimCounterName(dir_ + "new.cnt", "fixed", d, kQuickWait); },
       ".jpg"},
      {"stamp and its suffixes", [&](LeafDraft& d) { return ClaimStampName(stamp, d, 2); }, ".jpg"},
      {"image extension equal to the record's",
       [](LeafDraft& d) { return ClaimTemplateName("y#", d); }, ".TXT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Post(c.naming, c.image_ext).outcome, LeafNamingOutcome::NoNameLeft);
    EXPECT_EQ(Listing(), before);
  }
  EXPECT_EQ(Listing(), before);
  EXPECT_EQ(ReadBytes(Counter()), "7");
}

TEST_F(LeafNaming, CounterWrapsToItsLowestDigitsAndSkipsTakenNames) {
  WriteBytes(Counter(), "99");
  WriteBytes(dir_ + "n00.txt", "");
  EXPECT_EQ(Post([&](LeafDraft& d) { return ClaimCounterName(Counter(), "n##", d); }).name, "n01");
  EXPECT_EQ(ReadBytes(Counter()), "101");
}

TEST_F(LeafNaming, CounterHoldingTextRaisesAndWritesNothing) {
  WriteBytes(Counter(), "forty-one");
  EXPECT_THROW(
      Post([&](LeafDraft& d) { return ClaimCounterName(Counter(), "leaf####", d, kQuickWait); }),
      EInOutError);
  EXPECT_EQ(Listing(), std::set<std::string>{"counter.txt"});
  EXPECT_EQ(ReadBytes(Counter()), "forty-one");
}

// A counter that must be made and cannot be is a file error, not a busy counter, and
// nothing else is written; something at its name that is no file cannot be read.
TEST_F(LeafNaming, CounterThatCannotBeMadeOrReadRaisesAndWritesNothing) {
  fs::create_directory(Counter());
  ASSERT_EQ(mkfifo((dir_ + "fifo.cnt").c_str(), 0666), 0);
  const std::set<std::string> before = Listing();
  const std::string cases[] = {Counter(), dir_ + "missing/counter.txt", dir_ + "fifo.cnt"};
  for (const std::string& counter : cases) {
    SCOPED_TRACE(counter);
    EXPECT_THROW(
        Post([&](LeafDraft& d) { return ClaimCounterName(counter, "leaf####", d, kQuickWait); }),
        EOSFileError);
    TWebModule1 module;
    EXPECT_THROW(module.NextCounterFileName(counter, "leaf####", dir_, ".jpg", ".txt"),
                 EOSFileError);
  }
  EXPECT_EQ(Listing(), before);
}

// Something at the counter's name that exists but refuses the open is a counter that
// cannot be used now.
TEST_F(LeafNaming, CounterWhoseOpenIsRefusedIsUnusable) {
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string counter = dir_ + "c.sock";
  ASSERT_LT(counter.size(), sizeof address.sun_path);
  counter.copy(address.sun_path, counter.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(Post([&](LeafDraft& d) {
              return ClaimCounterName(counter, "leaf####", d, kQuickWait);
            }).outcome,
            LeafNamingOutcome::CounterUnusable);
  close(listener);
  EXPECT_EQ(Listing(), std::set<std::string>{"c.sock"});
}

// A directory does not make a name taken: the search stops at it with the file error
// instead of trying the next name, whichever of the two files it stands for.
TEST_F(LeafNaming, DirectoryAtACandidateNameRaisesInEveryMode) {
  const std::string stamp = "20240102-030405-678";
  struct Case {
    const char* label;
    std::string directory, taken;
    std::function<LeafNamingResult(LeafDraft&)> claim;
  };
  const auto templated = [&](LeafDraft& d) { return ClaimTemplateName("###", d); };
  const auto stamped = [&](LeafDraft& d) { return ClaimStampName(stamp, d); };
  const Case cases[] = {
      {"template, record name", "001.txt", "", templated},
      {"template, image name", "001.jpg", "", templated},
      {"counter, image name", "leaf0001.jpg", "",
       [&](LeafDraft& d) { return ClaimCounterName(Counter(), "leaf####", d, kQuickWait); }},
      {"stamp, record name", stamp + ".txt", "", stamped},
      {"stamp suffix, image name", stamp + "000.jpg", stamp + ".txt", stamped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(root_);
    fs::create_directory(root_);
    WriteBytes(Counter(), "0\r\n");
    fs::create_directory(dir_ + c.directory);
    if (!c.taken.empty()) WriteBytes(dir_ + c.taken, "taken");
    const std::set<std::string> before = Listing();
    EXPECT_THROW(Post(c.claim), EFCreateError);
    EXPECT_EQ(Listing(), before);
    EXPECT_EQ(ReadBytes(Counter()), "0\r\n");
  }
}

TEST_F(LeafNaming, CounterHeldThroughEveryRetryIsUnusable) {
  WriteBytes(Counter(), "5");
  platform::File holder = platform::File::Open(Counter(), platform::OpenMode::ReadShared);
  EXPECT_EQ(Post([&](LeafDraft& d) {
              return ClaimCounterName(Counter(), "leaf####", d, kQuickWait);
            }).outcome,
            LeafNamingOutcome::CounterUnusable);
  EXPECT_EQ(Listing(), std::set<std::string>{"counter.txt"});
  EXPECT_EQ(ReadBytes(Counter()), "5");
}

TEST_F(LeafNaming, CounterReleasedDuringTheRetriesIsUsed) {
  WriteBytes(Counter(), "5");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::File holder = platform::File::Open(Counter(), platform::OpenMode::ReadWriteExclusive);
    (void)!write(ready[1], "x", 1);
    platform::SleepMilliseconds(200);
    _exit(0);
  }
  char signal;
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  LeafNamingResult result = Post([&](LeafDraft& d) {
    return ClaimCounterName(Counter(), "leaf####", d, {100, 20, 10});
  });
  int status = 0;
  waitpid(child, &status, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(result.name, "leaf0006");
  EXPECT_EQ(ReadBytes(Counter()), "6");
}

TEST_F(LeafNaming, DraftAppearsOnlyWhenPublishedAndGoesUnlessFinished) {
  {
    LeafDraft dropped(Files(), std::string("\0\r", 2), "record");
    WriteBytes(dir_ + "a.jpg", "foreign");
    EXPECT_FALSE(dropped.TryPublish("a"));  // its image name is taken
    EXPECT_TRUE(dropped.TryPublish("b"));
    EXPECT_EQ(ReadBytes(dir_ + "b.jpg"), std::string("\0\r", 2));
  }
  EXPECT_EQ(Listing(), std::set<std::string>{"a.jpg"});
  {
    LeafDraft kept(Files(""), "image", "record");
    EXPECT_FALSE(kept.TryPublish("a.jpg"));  // no image extension: "a.jpg" is the image
    ASSERT_TRUE(kept.TryPublish("c"));
    kept.Finish();
  }
  EXPECT_EQ(Listing(), (std::set<std::string>{"a.jpg", "c", "c.txt"}));
  EXPECT_EQ(ReadBytes(dir_ + "c"), "image");
  EXPECT_EQ(ReadBytes(dir_ + "c.txt"), "record");
  EXPECT_EQ(ReadBytes(dir_ + "a.jpg"), "foreign");
}

// A posting killed at each of its steps leaves its slot behind; the next posting clears
// the helpers and a record whose image was never linked, and keeps a whole leaf.
TEST_F(LeafNaming, NextPostingClearsWhatAKilledPostingLeft) {
  struct Case {
    const char* label;
    bool noted, record_helper, image_helper, record_linked, image_linked, foreign_record;
    std::set<std::string> left;
    bool slot_removed = false;  // as postings that removed their slot files left it
  };
  const std::set<std::string> leaf{"a.jpg", "a.txt"};
  const Case cases[] = {
      {"while writing the helpers", false, true, true, false, false, false, {}},
      {"after noting the name", true, true, true, false, false, false, {}},
      {"between the two links", true, true, true, true, false, false, {}},
      {"after both links", true, true, true, true, true, false, leaf},
      {"after removing the record helper", true, false, true, false, true, false, leaf},
      {"noted name held by another posting's record",
       true,
       true,
       true,
       false,
       false,
       true,
       {"a.txt"}},
      {"helpers without their slot file", false, true, true, false, false, false, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(root_);
    fs::create_directory(root_);
    if (!c.slot_removed) {
      WriteBytes(dir_ + ".leaf0", c.noted ? std::string("a\0.jpg", 6) : std::string());
    }
    if (c.record_helper) WriteBytes(dir_ + ".leaf0r", "record");
    if (c.image_helper) WriteBytes(dir_ + ".leaf0i", "ima");  // possibly cut short
    if (c.record_linked) fs::create_hard_link(dir_ + ".leaf0r", dir_ + "a.txt");
    if (c.image_linked) fs::create_hard_link(dir_ + ".leaf0i", dir_ + "a.jpg");
    if (c.foreign_record) WriteBytes(dir_ + "a.txt", "record");
    if (!c.record_helper && c.image_linked) WriteBytes(dir_ + "a.txt", "record");  // unlinked

    EXPECT_EQ(Post([](LeafDraft& d) { return ClaimTemplateName("b#", d); }).name, "b1");
    std::set<std::string> expected = c.left;
    expected.insert({"b1.jpg", "b1.txt"});
    EXPECT_EQ(Listing(), expected);
  }
}

TEST_F(LeafNaming, SlotHeldByALivePostingIsLeftAlone) {
  WriteBytes(dir_ + ".leaf0", std::string("a\0.jpg", 6));
  WriteBytes(dir_ + ".leaf0r", "record");
  fs::create_hard_link(dir_ + ".leaf0r", dir_ + "a.txt");
  platform::File live =
      platform::File::Open(dir_ + ".leaf0", platform::OpenMode::ReadWriteExclusive);
  {
    LeafDraft draft(Files(), "image", "record");
    EXPECT_TRUE(fs::exists(dir_ + ".leaf1i"));
    ASSERT_TRUE(draft.TryPublish("b"));
    draft.Finish();
  }
  EXPECT_EQ(Listing(), (std::set<std::string>{".leaf0", ".leaf0r", "a.txt", "b.jpg", "b.txt"}));
}

TEST(CounterText, OneWholeNumberWordAfterWhiteSpace) {
  struct Case {
    const char* label;
    std::string text;
    std::optional<std::int64_t> expected;
  };
  const Case cases[] = {
      {"empty", "", 0},
      {"white space only", " \t\r\n", 0},
      {"as first created", "0\r\n", 0},
      {"as rewritten", "43", 43},
      {"leading white space", "\r\n  41\r\n", 41},
      {"rest after the word ignored", "41 7", 41},
      {"plus sign", "+7", 7},
      {"negative", "-3", -3},
      {"letters", "forty-one", std::nullopt},
      {"digits then letters", "4x", std::nullopt},
      {"sign alone", "-", std::nullopt},
      {"two signs", "+-1", std::nullopt},
      {"too large", "99999999999999999999", std::nullopt},
      {"NUL ends nothing but is white space",
       std::string("\0"
                   "12",
                   3),
       12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ParseCounterText(c.text), c.expected);
  }
}

// Many postings at once, in each naming mode: every one gets a name of its own, its
// record beside its own image, and the counter ends at the number of postings.
TEST_F(LeafNaming, ConcurrentPostingsAllGetDistinctNames) {
  constexpr int kPostings = 30;
  enum Mode { kCounter, kTemplate, kStamp };
  for (const Mode mode : {kCounter, kTemplate, kStamp}) {
    SCOPED_TRACE(mode);
    fs::remove_all(root_);
    fs::create_directory(root_);
    std::vector<pid_t> children;
    for (int index = 0; index < kPostings; ++index) {
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        int code = 1;
        try {
          const std::string mark = std::to_string(index);
          LeafDraft draft(Files(), mark, "record " + mark);
          LeafNamingResult result =
              mode == kCounter    ? ClaimCounterName(Counter(), "leaf####", draft, {100, 100, 10})
              : mode == kTemplate ? ClaimTemplateName("###", draft)
                                  : ClaimStampName("20240102-030405-678", draft);
          if (result.outcome == LeafNamingOutcome::Claimed) {
            draft.Finish();
            code = 0;
          }
        } catch (...) {
        }
        _exit(code);
      }
      children.push_back(child);
    }
    for (const pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::string> marks;
    int images = 0;
    for (const auto& entry : fs::directory_iterator(root_)) {
      const fs::path path = entry.path();
      if (path.extension() != ".jpg") continue;
      ++images;
      const std::string mark = ReadBytes(path);
      marks.insert(mark);
      fs::path record = path;
      EXPECT_EQ(ReadBytes(record.replace_extension(".txt")), "record " + mark);
    }
    EXPECT_EQ(images, kPostings);
    for (const std::string& name : Listing()) EXPECT_NE(name[0], '.') << name;
    EXPECT_EQ(marks.size(), static_cast<std::size_t>(kPostings));
    if (mode == kCounter) {
      EXPECT_EQ(ReadBytes(Counter()), std::to_string(kPostings));
    }
  }
}

}  // namespace
}  // namespace orvane
