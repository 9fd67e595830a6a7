#include "gate/accounts/member_records.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "gate/accounts/older_member_drafts.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

class MemberRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "member_records_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    members_ = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  static constexpr const char* kLockName = ".members.lock";

  std::string RecordPath(const std::string& id) const { return members_ + id + ".txt"; }
  void WriteRecord(const std::string& id, const std::string& text) const {
    std::ofstream(RecordPath(id), std::ios::binary) << text;
  }
  std::string ReadRecord(const std::string& id) const {
    std::ifstream in(RecordPath(id), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Names in the directory: a save must leave nothing beside the records but the
  // rewrite lock file, which stays for good.
  std::vector<std::string> DirectoryNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (entry.path().filename() != kLockName) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  bool UpdateProfile(const std::string& id, const std::string& password,
                     const std::vector<std::string>& v) {
    // v: realname, mail, comment, url1, urlname1, url2, urlname2, url3, urlname3, country.
    const MemberProfile profile{.realname = v[0],
                                .mail = v[1],
                                .comment = v[2],
                                .country = v[9],
                                .url1 = v[3],
                                .url2 = v[5],
                                .url3 = v[7],
                                .urlname1 = v[4],
                                .urlname2 = v[6],
                                .urlname3 = v[8]};
    return module_.UpdateMemberProfile(members_, id, password, profile);
  }

  TWebModule1 module_;
  fs::path dir_;
  std::string members_;
};

TEST(MemberRecordPath, AddsADelimiterOnlyWhenMissing) {
  EXPECT_EQ(MemberRecordPath("/m/", "taro"), "/m/taro.txt");
  EXPECT_EQ(MemberRecordPath("/m", "taro"), "/m/taro.txt");
  EXPECT_EQ(MemberRecordPath("/m/", ""), "/m/.txt");
}

TEST_F(MemberRecordsTest, PasswordCheckIsExactAndTellsAMissingRecord) {
  WriteRecord("taro", "id=taro\r\nPW=Secret1\r\nrealname=Taro\r\n");
  WriteRecord("nopw", "id=nopw\r\n");
  WriteRecord("bom", "\xEF\xBB\xBFpw=Secret1\r\nid=bom\r\n");
  WriteRecord("other", "id=other\r\npassword=Secret1\r\n");
  WriteRecord("blank", "id=blank\r\npw=\r\n");
  fs::create_directory(RecordPath("folder"));
  struct Case {
    const char* label;
    std::string dir, id, password;
    TWebModule1::PasswordCheck expected;
  };
  constexpr auto kMatch = TWebModule1::PasswordCheck::Match;
  constexpr auto kWrong = TWebModule1::PasswordCheck::Wrong;
  constexpr auto kNoRecord = TWebModule1::PasswordCheck::NoRecord;
  const Case cases[] = {
      {"match", members_, "taro", "Secret1", kMatch},
      {"dir without delimiter", dir_.string(), "taro", "Secret1", kMatch},
      {"one letter in another case", members_, "taro", "secret1", kWrong},
      {"trailing space", members_, "taro", "Secret1 ", kWrong},
      {"empty password", members_, "taro", "", kWrong},
      {"record without pw line matches no empty password", members_, "nopw", "", kWrong},
      {"byte-order mark before pw= is no pw line", members_, "bom", "Secret1", kWrong},
      {"byte-order mark record and the empty password", members_, "bom", "", kWrong},
      {"password= is no pw line", members_, "other", "Secret1", kWrong},
      {"empty pw line matches no empty password", members_, "blank", "", kWrong},
      {"unknown id", members_, "jiro", "Secret1", kNoRecord},
      {"a directory is no record", members_, "folder", "Secret1", kNoRecord},
      {"empty id without .txt", members_, "", "Secret1", kNoRecord},
      {"id case differs from the file name", members_, "TARO", "Secret1", kNoRecord},
      {"no member directory", "", "taro", "Secret1", kNoRecord},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(module_.CheckMemberPassword(c.dir, c.id, c.password), c.expected);
  }
}

TEST_F(MemberRecordsTest, PasswordChangeRewritesOnlyThePwLineInPlace) {
  WriteRecord("taro", "# note\nid=taro\nPw=oldpass\nrealname=Taro\npw=second\nextra=x=y");
  ASSERT_TRUE(module_.ChangeMemberPassword(members_, "taro", "oldpass", "newpass"));
  EXPECT_EQ(ReadRecord("taro"),
            "# note\r\nid=taro\r\npw=newpass\r\nrealname=Taro\r\npw=second\r\nextra=x=y\r\n");
  EXPECT_EQ(module_.CheckMemberPassword(members_, "taro", "newpass"),
            TWebModule1::PasswordCheck::Match);
  EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"taro.txt"}));
}

TEST_F(MemberRecordsTest, RefusedChangesLeaveTheRecordByteIdentical) {
  const std::string original = "id=taro\npw=Secret1\nrealname=Taro\n";
  WriteRecord("taro", original);
  EXPECT_FALSE(module_.ChangeMemberPassword(members_, "taro", "secret1", "newpass"));
  EXPECT_FALSE(UpdateProfile("taro", "Secret", {"X", "m", "c", "", "", "", "", "", "", ""}));
  EXPECT_FALSE(module_.ChangeMemberPassword(members_, "jiro", "Secret1", "newpass"));
  EXPECT_FALSE(UpdateProfile("jiro", "Secret1", {"X", "m", "c", "", "", "", "", "", "", ""}));
  EXPECT_EQ(ReadRecord("taro"), original);
  const std::string no_pw = "id=nopw\n\xEF\xBB\xBFpw=Secret1\n";
  WriteRecord("nopw", no_pw);
  for (const char* password : {"", "Secret1"}) {
    SCOPED_TRACE(password);
    EXPECT_FALSE(module_.ChangeMemberPassword(members_, "nopw", password, "newpass"));
    EXPECT_FALSE(UpdateProfile("nopw", password, {"X", "m", "c", "", "", "", "", "", "", ""}));
  }
  EXPECT_EQ(ReadRecord("nopw"), no_pw);
  EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"nopw.txt", "taro.txt"}));
}

// The lines after a NUL byte are invisible to the line reader, so a rewrite would drop
// them: the save fails naming the record, which keeps every byte.
TEST_F(MemberRecordsTest, ARecordHoldingANulByteIsNeverRewrittenShort) {
  const std::string original =
      std::string("id=taro\r\npw=Secret1\r\nrealname=A") + '\0' + "B\r\nmail=m\r\n";
  const std::function<bool()> saves[] = {
      [this] { return module_.ChangeMemberPassword(members_, "taro", "Secret1", "Secret2"); },
      [this] {
        return UpdateProfile("taro", "Secret1", {"T", "m", "", "", "", "", "", "", "", ""});
      },
  };
  WriteRecord("taro", original);
  for (const auto& save : saves) {
    try {
      save();
      ADD_FAILURE() << "the record was rewritten";
    } catch (const EWriteError& error) {
      EXPECT_NE(error.Message().find("\"" + RecordPath("taro") + "\""), std::string::npos)
          << error.Message();
    }
    EXPECT_EQ(ReadRecord("taro"), original);
    EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"taro.txt"}));
  }
}

TEST_F(MemberRecordsTest, FirstProfileSaveAppendsKeysInTheirFixedOrder) {
  WriteRecord("taro", "id=taro\r\npw=Secret1\r\nrealname=Taro\r\ncountry=\r\nmail=t@a\r\n");
  // realname, mail, comment, url1, urlname1, url2, urlname2, url3, urlname3, country
  ASSERT_TRUE(UpdateProfile("taro", "Secret1",
                            {"Hanako", "h@a", "hi", "u1", "n1", "u2", "n2", "u3", "n3", "JP"}));
  EXPECT_EQ(ReadRecord("taro"),
            "id=taro\r\npw=Secret1\r\nrealname=Hanako\r\ncountry=JP\r\nmail=h@a\r\n"
            "comment=hi\r\nurl1=u1\r\nurl2=u2\r\nurl3=u3\r\n"
            "urlname1=n1\r\nurlname2=n2\r\nurlname3=n3\r\n");
  EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"taro.txt"}));
}

TEST_F(MemberRecordsTest, EmptyProfileValuesDeleteTheirLinesAndUnchangedOnesStay) {
  WriteRecord("taro",
              "id=taro\npw=Secret1\nRealName=Taro\nmail=t@a\nunknown=1\ncomment=hi\nCOUNTRY=JP\n");
  ASSERT_TRUE(UpdateProfile("taro", "Secret1", {"Taro", "", "hi", "", "", "", "", "", "", "JP"}));
  // The unchanged lines keep their spelling; only the mail line goes.
  EXPECT_EQ(ReadRecord("taro"),
            "id=taro\r\npw=Secret1\r\nRealName=Taro\r\nunknown=1\r\ncomment=hi\r\nCOUNTRY=JP\r\n");
}

TEST_F(MemberRecordsTest, LongValuesAndManyLinesAreWrittenWhole) {
  // Lines of every size around the writer's 64 KiB buffer, and a value far larger.
  std::string record = "id=taro\r\npw=Secret1\r\n";
  for (std::size_t size : {1u, 65530u, 65533u, 65534u, 65535u, 65536u, 140000u, 7u}) {
    for (int copy = 0; copy < 3; ++copy) record += "k=" + std::string(size, 'v') + "\r\n";
  }
  WriteRecord("taro", record);
  const std::string comment(300000, 'c');
  ASSERT_TRUE(UpdateProfile("taro", "Secret1", {"", "", comment, "", "", "", "", "", "", ""}));
  EXPECT_EQ(ReadRecord("taro"), record + "comment=" + comment + "\r\n");
}

TEST_F(MemberRecordsTest, CreationIsExclusive) {
  const std::string path = RecordPath("taro");
  EXPECT_TRUE(CreateMemberRecord(path, "id=taro\r\npw=first\r\n"));
  EXPECT_FALSE(CreateMemberRecord(path, "id=taro\r\npw=second\r\n"));
  EXPECT_EQ(ReadRecord("taro"), "id=taro\r\npw=first\r\n");
  EXPECT_THROW(CreateMemberRecord(members_ + "missing/taro.txt", "id=taro\r\n"), EFCreateError);
  EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"taro.txt"}));
}

// Every id whose record name fits the 255-byte name limit registers and is rewritten;
// the helper files must not borrow the record's name and so outgrow the limit.
TEST_F(MemberRecordsTest, IdsUpToTheNameLimitRegisterAndAreRewritten) {
  for (const std::size_t length : {1u, 200u, 230u, 231u, 247u, 248u, 251u}) {
    SCOPED_TRACE(length);
    const std::string id(length, 'a' + static_cast<char>(length % 26));
    ASSERT_TRUE(CreateMemberRecord(RecordPath(id), "id=" + id + "\r\npw=Secret1\r\n"));
    EXPECT_TRUE(module_.ChangeMemberPassword(members_, id, "Secret1", "Secret2"));
    EXPECT_TRUE(UpdateProfile(id, "Secret2", {"R", "m", "", "", "", "", "", "", "", ""}));
    EXPECT_EQ(ReadRecord(id), "id=" + id + "\r\npw=Secret2\r\nrealname=R\r\nmail=m\r\n");
    EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{id + ".txt"}));
    fs::remove(RecordPath(id));
  }
}

// A helper left by a writer whose removal of it failed, or that was killed, is cleared by
// the next registration or save, which holds the directory's lock: no live writer has it.
// A registration's helper is a second name of the new record, which stays whole.
TEST_F(MemberRecordsTest, AHelperLeftBehindIsClearedByTheNextWriter) {
  const std::string helper = members_ + ".member-draft.new";
  const std::function<bool()> writers[] = {
      [this] { return CreateMemberRecord(RecordPath("jiro"), "id=jiro\r\n"); },
      [this] { return module_.ChangeMemberPassword(members_, "taro", "Secret1", "Secret2"); },
      [this] {
        return UpdateProfile("taro", "Secret1", {"T", "", "", "", "", "", "", "", "", ""});
      },
  };
  for (const bool linked : {false, true}) {
    for (const auto& write : writers) {
      SCOPED_TRACE(linked ? "helper linked to the record" : "helper of its own");
      fs::remove(RecordPath("jiro"));
      WriteRecord("taro", "id=taro\r\npw=Secret1\r\n");
      if (linked) {
        fs::create_hard_link(RecordPath("taro"), helper);
      } else {
        std::ofstream(helper, std::ios::binary) << "id=half";
      }
      ASSERT_TRUE(write());
      EXPECT_FALSE(fs::exists(helper));
      EXPECT_EQ(ReadRecord("taro").substr(0, 9), "id=taro\r\n");
    }
  }
}

// Drafts that older builds left under random names are no writer's business (a writer
// never lists the directory); the repair removes them and leaves names that only look
// alike.
TEST_F(MemberRecordsTest, OlderRandomDraftsAreLeftToTheRepair) {
  const std::vector<std::string> older = {".member-0123456789abcdef.new",
                                          ".member-fedcba9876543210.new"};
  const std::vector<std::string> kept = {".member-0123456789ABCDEF.new", ".member-0123.new",
                                         ".member-0123456789abcdef.newer"};
  for (const std::string& name : older) std::ofstream(members_ + name) << "id=half";
  for (const std::string& name : kept) std::ofstream(members_ + name) << "x";
  ASSERT_TRUE(CreateMemberRecord(RecordPath("jiro"), "id=jiro\r\npw=Secret1\r\n"));
  ASSERT_TRUE(module_.ChangeMemberPassword(members_, "jiro", "Secret1", "Secret2"));
  EXPECT_EQ(FindOlderMemberDrafts(members_), older);
  std::vector<std::string> asked = kept;
  asked.insert(asked.end(), older.begin(), older.end());
  EXPECT_EQ(RemoveOlderMemberDrafts(members_, asked), std::vector<std::string>{});
  std::vector<std::string> expected = kept;
  expected.push_back("jiro.txt");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(DirectoryNames(), expected);
}

// A record that cannot be made raises an error naming the record, never a helper file,
// and leaves nothing behind; a directory at the record's name does not make the id taken.
TEST_F(MemberRecordsTest, FailedCreationNamesTheRecordAndLeavesNothing) {
  fs::create_directory(RecordPath("dir"));
  fs::create_directory(dir_ / "sub");
  const std::string cases[] = {RecordPath("dir"), members_ + "missing/taro.txt",
                               RecordPath(std::string(252, 'x'))};
  for (const std::string& path : cases) {
    SCOPED_TRACE(path);
    try {
      CreateMemberRecord(path, "id=x\r\n");
      ADD_FAILURE() << "the record was reported as made or as taken";
    } catch (const EFCreateError& error) {
      EXPECT_NE(error.Message().find("\"" + path + "\""), std::string::npos) << error.Message();
    }
  }
  EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"dir.txt", "sub"}));
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A site that made its records private keeps them so through every save; new records
// follow the process's file-creation mask.
TEST_F(MemberRecordsTest, RewritesKeepTheRecordsPermissionsAndNewRecordsFollowTheMask) {
  for (const mode_t mode : {0600, 0640, 0604, 0660}) {
    SCOPED_TRACE(mode);
    WriteRecord("taro", "id=taro\r\npw=Secret1\r\n");
    ASSERT_EQ(chmod(RecordPath("taro").c_str(), mode), 0);
    ASSERT_TRUE(module_.ChangeMemberPassword(members_, "taro", "Secret1", "Secret2"));
    EXPECT_EQ(ModeOf(RecordPath("taro")), mode);
    ASSERT_TRUE(UpdateProfile("taro", "Secret2", {"R", "m", "", "", "", "", "", "", "", ""}));
    EXPECT_EQ(ModeOf(RecordPath("taro")), mode);
  }
  for (const mode_t mask : {022, 077, 002}) {
    SCOPED_TRACE(mask);
    const mode_t previous = umask(mask);
    const bool created = CreateMemberRecord(RecordPath("m" + std::to_string(mask)), "id=m\r\n");
    umask(previous);
    ASSERT_TRUE(created);
    EXPECT_EQ(ModeOf(RecordPath("m" + std::to_string(mask))), 0666 & ~mask);
  }
}

TEST_F(MemberRecordsTest, RewritesKeepTheRecordsOwnerAndGroupWherePermitted) {
  if (geteuid() != 0) GTEST_SKIP() << "only a privileged process may give a file away";
  WriteRecord("taro", "id=taro\r\npw=Secret1\r\n");
  ASSERT_EQ(chown(RecordPath("taro").c_str(), 4321, 4322), 0);
  ASSERT_TRUE(module_.ChangeMemberPassword(members_, "taro", "Secret1", "Secret2"));
  struct stat info {};
  ASSERT_EQ(stat(RecordPath("taro").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 4321u);
  EXPECT_EQ(info.st_gid, 4322u);
}

// Holding a record the way a save does, in another open of this process.
platform::File HoldRecord(const std::string& path) {
  return platform::File::Open(path, platform::OpenMode::ReadWriteExclusive);
}

TEST_F(MemberRecordsTest, ReadersWaitOutASaveInProgress) {
  WriteRecord("taro", "id=taro\r\npw=Secret1\r\n");
  platform::File held = HoldRecord(RecordPath("taro"));
  auto check = std::async(std::launch::async, [this] {
    return module_.CheckMemberPassword(members_, "taro", "Secret1");
  });
  platform::SleepMilliseconds(100);
  held.Close();
  EXPECT_EQ(check.get(), TWebModule1::PasswordCheck::Match);
}

TEST_F(MemberRecordsTest, ReaderGivesUpOnARecordHeldTooLong) {
  WriteRecord("taro", "id=taro\r\npw=Secret1\r\n");
  platform::File held = HoldRecord(RecordPath("taro"));
  try {
    ReadMemberRecord(RecordPath("taro"));
    FAIL() << "the read did not fail";
  } catch (const EFOpenError& error) {
    EXPECT_TRUE(error.IsSharingViolation());
  }
}

TEST_F(MemberRecordsTest, SaveWaitingOnAReplacedRecordAppliesItsChangeToTheNewOne) {
  WriteRecord("taro", "id=taro\r\npw=Secret1\r\n");
  platform::File held = HoldRecord(RecordPath("taro"));
  auto change = std::async(std::launch::async, [this] {
    return module_.ChangeMemberPassword(members_, "taro", "Secret1", "Changed2");
  });
  platform::SleepMilliseconds(100);
  // Another save replaces the record while the first still waits on the old file.
  std::ofstream(members_ + "other", std::ios::binary) << "id=taro\r\npw=Secret1\r\nmail=m\r\n";
  ASSERT_EQ(platform::RenameFile(members_ + "other", RecordPath("taro")).error, 0);
  held.Close();
  EXPECT_TRUE(change.get());
  EXPECT_EQ(ReadRecord("taro"), "id=taro\r\npw=Changed2\r\nmail=m\r\n");
}

// Rewrites follow one another by a lock on one file beside the records that is never
// replaced, so that every client of a shared file system locks the same file.
TEST_F(MemberRecordsTest, RewritesWaitForTheLockFileThatNeverMoves) {
  WriteRecord("taro", "id=taro\r\npw=Secret1\r\n");
  ASSERT_TRUE(module_.ChangeMemberPassword(members_, "taro", "Secret1", "Secret2"));
  const std::string lock_path = members_ + kLockName;
  struct stat before {};
  ASSERT_EQ(stat(lock_path.c_str(), &before), 0);

  platform::File held = platform::File::Open(lock_path, platform::OpenMode::OpenAlwaysExclusive);
  auto change = std::async(std::launch::async, [this] {
    return module_.ChangeMemberPassword(members_, "taro", "Secret2", "Secret3");
  });
  EXPECT_EQ(change.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  EXPECT_EQ(ReadRecord("taro"), "id=taro\r\npw=Secret2\r\n");
  // Readers do not take the rewrite lock.
  EXPECT_EQ(module_.CheckMemberPassword(members_, "taro", "Secret2"),
            TWebModule1::PasswordCheck::Match);
  held.Close();
  EXPECT_TRUE(change.get());
  EXPECT_EQ(ReadRecord("taro"), "id=taro\r\npw=Secret3\r\n");

  struct stat after {};
  ASSERT_EQ(stat(lock_path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_size, 0);
}

// Several processes add to one counter in the record at once; a lost update shows as a
// short count, and a reader meanwhile never meets a refused open or a partial record.
TEST_F(MemberRecordsTest, ConcurrentSavesAllSucceedAndNoneIsLost) {
  constexpr int kWriters = 4;
  constexpr int kRounds = 25;
  const std::string path = RecordPath("taro");
  WriteRecord("taro", "id=taro\r\npw=Secret1\r\ncount=0\r\n");
  const auto run_child = [](const std::function<bool()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
      bool ok = false;
      try {
        ok = body();
      } catch (...) {
      }
      _exit(ok ? 0 : 1);
    }
    return pid;
  };
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(run_child([&path, w] {
      for (int round = 0; round < kRounds; ++round) {
        const bool saved = RewriteMemberRecord(path, [w, round](TFieldEdits& record) {
          record.Set("count", std::to_string(std::stoi(std::string(record.Value("count"))) + 1));
          record.Set("w" + std::to_string(w), std::to_string(round));
          return true;
        });
        if (!saved) return false;
      }
      return true;
    }));
  }
  const pid_t reader = run_child([this] {
    TWebModule1 module;
    for (int i = 0; i < 200; ++i) {
      if (module.CheckMemberPassword(members_, "taro", "Secret1") !=
          TWebModule1::PasswordCheck::Match) {
        return false;
      }
      if (FieldValue(ReadMemberRecord(RecordPath("taro")), "count").empty()) return false;
    }
    return true;
  });
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(reader, &status, 0), reader);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "reader failed";

  const TFieldList record = ReadMemberRecord(path);
  EXPECT_EQ(FieldValue(record, "count"), std::to_string(kWriters * kRounds));
  for (int w = 0; w < kWriters; ++w) {
    EXPECT_EQ(FieldValue(record, "w" + std::to_string(w)), std::to_string(kRounds - 1));
  }
  EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"taro.txt"}));
}

}  // namespace
}  // namespace orvane
