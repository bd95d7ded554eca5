// The log environment over the fake's in-memory folder tree.
#include "log/log_environment.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"

namespace {

using platform::fake::AddFile;
using platform::fake::AddFolder;
using platform::fake::State;

// The discovery only reads: the folders it names are the set-up's to make.
devicecode::LogEnvironment Discover() {
  const devicecode::LogEnvironment e = devicecode::DiscoverLogEnvironment();
  EXPECT_EQ(platform::fake::Get().createdFolders, std::vector<std::string>{});
  return e;
}

// The worked example: host C:\Host\bin\host.exe, library
// C:\Host\plugins\dev\lib.dll, session 1, process 4242, 5 March 2024,
// temporary folder C:\Temp\, folders C:\Host\plugins\Logs\ and C:\Host\Config\.
void ArrangeWorkedExample() {
  platform::fake::Reset();
  AddFolder("C:\\Temp\\");
  AddFolder("C:\\Host\\bin\\");
  AddFolder("C:\\Host\\plugins\\dev\\");
  AddFolder("C:\\Host\\plugins\\Logs\\");
  AddFolder("C:\\Host\\Config\\");
}

TEST(DiscoverLogEnvironmentTest, WorkedExample) {
  ArrangeWorkedExample();
  const devicecode::LogEnvironment e = Discover();
  EXPECT_EQ(e.categoryName, "[S1P4242]->host.exe->lib.dll");
  EXPECT_EQ(e.logFileName, "host.log");
  EXPECT_EQ(e.tempFolder, "C:\\Temp\\");
  EXPECT_EQ(e.logFolder, "C:\\Host\\plugins\\dev\\..\\Logs\\2024-03-05\\");
  EXPECT_EQ(e.configFolder, "C:\\Host\\plugins\\dev\\..\\..\\Config\\");
  EXPECT_EQ(e.baseFolder, "C:\\Host\\plugins\\dev\\");
  EXPECT_EQ(e.foldersToCreate,
            std::vector<std::string>{"C:\\Host\\plugins\\dev\\..\\Logs\\2024-03-05\\"});
}

struct Case {
  const char* name;
  std::function<void(State&)> arrange;  // applied to the worked example
  const char* categoryName;
  const char* logFileName;
  const char* tempFolder;
  const char* logFolder;
  const char* configFolder;
  std::vector<std::string> toCreate;
};

TEST(DiscoverLogEnvironmentTest, EdgeCases) {
  const std::string longName(300, 'x');
  const char* const kDay = "C:\\Host\\plugins\\dev\\..\\Logs\\2024-03-05\\";
  const char* const kConfig = "C:\\Host\\plugins\\dev\\..\\..\\Config\\";
  const Case cases[] = {
      {"OnlyTheFirstDotCutsTheFileName",
       [](State& s) { s.hostPath = "C:\\Host\\bin\\my.tool.exe"; },
       "[S1P4242]->my.tool.exe->lib.dll",
       "my.log",
       "C:\\Temp\\",
       kDay,
       kConfig,
       {kDay}},
      {"NoDot",
       [](State& s) { s.hostPath = "C:\\Host\\bin\\runner"; },
       "[S1P4242]->runner->lib.dll",
       "runner.log",
       "C:\\Temp\\",
       kDay,
       kConfig,
       {kDay}},
      {"LeadingDot",
       [](State& s) { s.hostPath = "C:\\Host\\bin\\.hidden"; },
       "[S1P4242]->.hidden->lib.dll",
       ".log",
       "C:\\Temp\\",
       kDay,
       kConfig,
       {kDay}},
      {"HostPathWithoutSeparatorAddsOnlyTheLibrary",
       [](State& s) { s.hostPath = "host.exe"; },
       "[S1P4242]->->lib.dll",
       "TrelLog.log",
       "C:\\Temp\\",
       kDay,
       kConfig,
       {kDay}},
      // The library's path is not looked at: the searches start at the
      // temporary folder.
      {"HostPathFails",
       [](State& s) { s.hostPath.clear(); },
       "[S1P4242]->unknow",
       "TrelLog.log",
       "C:\\Temp\\",
       "C:\\Temp\\",
       "C:\\Temp\\",
       {}},
      {"HostPathTooLongCountsAsFailed",
       [&](State& s) { s.hostPath = "C:\\" + longName + "\\host.exe"; },
       "[S1P4242]->unknow",
       "TrelLog.log",
       "C:\\Temp\\",
       "C:\\Temp\\",
       "C:\\Temp\\",
       {}},
      {"LibraryIsTheHost",
       [](State& s) { s.ownModule = s.hostModule; },
       "[S1P4242]->host.exe",
       "host.log",
       "C:\\Temp\\",
       "C:\\Host\\bin\\",
       "C:\\Host\\bin\\..\\Config\\",
       {}},
      {"LibraryModuleNotFound",
       [](State& s) { s.ownModule = nullptr; },
       "[S1P4242]->host.exe",
       "host.log",
       "C:\\Temp\\",
       "C:\\Host\\bin\\",
       "C:\\Host\\bin\\..\\Config\\",
       {}},
      {"LibraryPathTooLongIsIgnored",
       [&](State& s) { s.ownModulePath = "C:\\" + longName + "\\lib.dll"; },
       "[S1P4242]->host.exe",
       "host.log",
       "C:\\Temp\\",
       "C:\\Host\\bin\\",
       "C:\\Host\\bin\\..\\Config\\",
       {}},
      {"NoTemporaryFolder",
       [](State& s) { s.tempPath.clear(); },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\TrelLog\\",
       kDay,
       kConfig,
       {"C:\\TrelLog\\", kDay}},
      {"TemporaryFolderTooLong",
       [&](State& s) { s.tempPath = "C:\\" + longName + "\\"; },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\TrelLog\\",
       kDay,
       kConfig,
       {"C:\\TrelLog\\", kDay}},
      {"NoTemporaryFolderNorHostPath",
       [](State& s) {
         s.tempPath.clear();
         s.hostPath.clear();
       },
       "[S1P4242]->unknow",
       "TrelLog.log",
       "C:\\TrelLog\\",
       "C:\\TrelLog\\",
       "C:\\TrelLog\\",
       {"C:\\TrelLog\\"}},
      {"TemporaryFolderInLongForm",
       [](State& s) {
         s.tempPath = "C:\\DOCUME~1\\Temp\\";
         s.longPaths[s.tempPath] = "C:\\Documents and Settings\\Temp\\";
       },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\Documents and Settings\\Temp\\",
       kDay,
       kConfig,
       {kDay}},
      {"LongFormFailsKeepsTheShortForm",
       [](State& s) { s.tempPath = "C:\\GONE~1\\"; },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\GONE~1\\",
       kDay,
       kConfig,
       {kDay}},
      {"LogsAndConfigFilesDoNotCount",
       [](State&) {
         AddFile("C:\\Host\\plugins\\dev\\Logs", "");
         AddFile("C:\\Host\\plugins\\dev\\Config", "");
       },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\Temp\\",
       kDay,
       kConfig,
       {kDay}},
      {"LogsInTheBaseFolder",
       [](State&) { AddFolder("C:\\Host\\plugins\\dev\\Logs"); },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\Temp\\",
       "C:\\Host\\plugins\\dev\\Logs\\2024-03-05\\",
       kConfig,
       {"C:\\Host\\plugins\\dev\\Logs\\2024-03-05\\"}},
      {"LogsThreeLevelsUpIsNotFound",
       [](State& s) {
         s.entries.erase("C:\\Host\\plugins\\Logs");
         AddFolder("C:\\Logs");
       },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\Temp\\",
       "C:\\Host\\plugins\\dev\\",
       kConfig,
       {}},
      // Config is searched from the base folder, not from where Logs was found.
      {"ConfigSearchedFromTheBase",
       [](State&) { AddFolder("C:\\Host\\plugins\\Config"); },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\Temp\\",
       kDay,
       "C:\\Host\\plugins\\dev\\..\\Config\\",
       {kDay}},
      // A file of the day's name will block the folder; the text still names it.
      {"DayFolderBlockedStillNamesIt",
       [](State&) { AddFile("C:\\Host\\plugins\\Logs\\2024-03-05", ""); },
       "[S1P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\Temp\\",
       kDay,
       kConfig,
       {kDay}},
      {"FailedSessionQueryShowsS0",
       [](State& s) { s.sessionKnown = false; },
       "[S0P4242]->host.exe->lib.dll",
       "host.log",
       "C:\\Temp\\",
       kDay,
       kConfig,
       {kDay}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArrangeWorkedExample();
    c.arrange(platform::fake::Get());
    const devicecode::LogEnvironment e = Discover();
    EXPECT_EQ(e.categoryName, c.categoryName);
    EXPECT_EQ(e.logFileName, c.logFileName);
    EXPECT_EQ(e.tempFolder, c.tempFolder);
    EXPECT_EQ(e.logFolder, c.logFolder);
    EXPECT_EQ(e.configFolder, c.configFolder);
    EXPECT_EQ(e.foldersToCreate, c.toCreate);
  }
}

}  // namespace
