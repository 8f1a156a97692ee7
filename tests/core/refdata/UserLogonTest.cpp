#include "core/refdata/UserLogon.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/diag/ClientPath.h"
#include "core/store/ObjStream.h"
#include "platform/Files.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

std::shared_ptr<TUserLogon> SampleLogon() {
  auto logon = std::make_shared<TUserLogon>();
  logon->Sequence = 12;
  logon->UserName = "trader1";
  logon->LastDate = 39211;
  logon->DBSequence = "5512";
  logon->RefSequence = "830";
  logon->DBIdentifier = "LIVE-2";
  return logon;
}

TEST(UserLogonTest, SetLogonKeepsOneRecord) {
  TUserLogonQ logons;
  EXPECT_EQ(logons.GetLastLogon(), nullptr);
  logons.SetLogon(std::make_shared<TUserLogon>());
  auto latest = SampleLogon();
  logons.SetLogon(latest);
  EXPECT_EQ(logons.Count(), 1);
  EXPECT_EQ(logons.GetLastLogon(), latest);
}

TEST(UserLogonTest, SavedLogonIsLoadedBackFromTheClientPath) {
  TTempDir dir;
  {
    TUserLogonQ logons;
    logons.SetLogon(SampleLogon());
    ASSERT_TRUE(logons.Save());
  }
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"logon.dat"});
  EXPECT_EQ(ReadFileText(dir.File("logon.dat")).substr(0, StoreHeaderText().size()),
            StoreHeaderText());

  TUserLogonQ loaded;
  loaded.SetLogon(std::make_shared<TUserLogon>());  // replaced by the file's content
  ASSERT_TRUE(loaded.Load());
  ASSERT_EQ(loaded.Count(), 1);
  const auto logon = loaded.GetLastLogon();
  EXPECT_EQ(logon->Sequence, 12);
  EXPECT_EQ(logon->UserName, "trader1");
  EXPECT_EQ(logon->LastDate, 39211);
  EXPECT_EQ(logon->DBSequence, "5512");
  EXPECT_EQ(logon->RefSequence, "830");
  EXPECT_EQ(logon->DBIdentifier, "LIVE-2");
}

TEST(UserLogonTest, AFileOfAnotherBuildIsDeletedAndNothingIsRead) {
  TTempDir dir;
  TUserLogonQ logons;
  logons.SetLogon(SampleLogon());
  ASSERT_TRUE(logons.Save());
  std::string bytes = ReadFileText(dir.File("logon.dat"));
  bytes[StoreHeaderText().size() - 1] ^= 1;  // last digit of the build
  WriteFileText(dir.File("logon.dat"), bytes);

  TUserLogonQ loaded;
  EXPECT_FALSE(loaded.Load());
  EXPECT_EQ(loaded.Count(), 0);
  EXPECT_FALSE(FileExists(dir.File("logon.dat")));

  // A file shorter than the header is another build's too.
  WriteFileText(dir.File("logon.dat"), "Global");
  EXPECT_FALSE(loaded.Load());
  EXPECT_FALSE(FileExists(dir.File("logon.dat")));
}

TEST(UserLogonTest, AbsentOrDamagedFileLoadsWhatItCanWithoutThrowing) {
  TTempDir dir;
  TUserLogonQ logons;
  EXPECT_FALSE(logons.Load());
  EXPECT_TRUE(dir.Files().empty());

  logons.SetLogon(SampleLogon());
  ASSERT_TRUE(logons.Save());
  const std::string bytes = ReadFileText(dir.File("logon.dat"));
  // Cut inside the record: the header matches, so the file is kept; the record is not loaded.
  WriteFileText(dir.File("logon.dat"), bytes.substr(0, bytes.size() - 3));
  TUserLogonQ loaded;
  EXPECT_FALSE(loaded.Load());
  EXPECT_EQ(loaded.Count(), 0);
  EXPECT_TRUE(FileExists(dir.File("logon.dat")));
}

TEST(UserLogonTest, SaveReportsAFolderThatCannotBeWritten) {
  TTempDir dir;
  TUserLogonQ logons;
  logons.SetLogon(SampleLogon());
  SetClientPath(dir.Path() + "missing/");
  EXPECT_FALSE(logons.Save());
}

}  // namespace
}  // namespace vorn
