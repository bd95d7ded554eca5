// The Linux backend's process, module, folder, INI and path operations.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "ini_cases.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

class LinuxSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/linux_system_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(LinuxSystemTest, GetPrivateProfileIntReadsFilesAsWindowsDoes) {
  const std::string file = (root_ / "x.ini").string();
  for (const auto& c : testing_support::kIniCases) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << c.text;
    EXPECT_EQ(platform::GetPrivateProfileIntA("Common", "LogLevel", testing_support::kIniDefault,
                                              file.c_str()),
              c.expected)
        << c.name;
  }
  EXPECT_EQ(platform::GetPrivateProfileIntA("Common", "LogLevel", 9, (root_ / "none").c_str()), 9u);
  // Present but not a plain file: the default, without a throw or a wait.
  fs::create_directory(root_ / "folder.ini");
  ASSERT_EQ(mkfifo((root_ / "fifo.ini").c_str(), 0600), 0);
  for (const char* name : {"folder.ini", "fifo.ini"}) {
    EXPECT_EQ(platform::GetPrivateProfileIntA("Common", "LogLevel", 9, (root_ / name).c_str()), 9u)
        << name;
  }
}

TEST_F(LinuxSystemTest, FoldersAndAttributes) {
  const std::string folder = (root_ / "a").string();
  EXPECT_EQ(platform::GetFileAttributesA(folder.c_str()), platform::kInvalidFileAttributes);
  EXPECT_NE(platform::CreateDirectoryA(folder.c_str()), 0);
  EXPECT_EQ(platform::CreateDirectoryA(folder.c_str()), 0);           // exists already
  EXPECT_EQ(platform::CreateDirectoryA((root_ / "b/c").c_str()), 0);  // one level only
  EXPECT_EQ(platform::GetFileAttributesA((folder + "/").c_str()),
            platform::kFileAttributeDirectory);
  std::ofstream(root_ / "f") << "";
  const std::uint32_t file = platform::GetFileAttributesA((root_ / "f").c_str());
  EXPECT_NE(file, platform::kInvalidFileAttributes);
  EXPECT_EQ(file & platform::kFileAttributeDirectory, 0u);
}

// A 3 GiB sparse file costs what its first MiB costs: its key, at the end,
// is not reached.
TEST_F(LinuxSystemTest, HugeIniFileIsReadOnlyToItsFirstMebibyte) {
  const std::string file = (root_ / "huge.ini").string();
  { std::ofstream(file, std::ios::binary) << "; huge\n"; }
  const auto end = std::uintmax_t{3} << 30;
  fs::resize_file(file, end);
  std::ofstream(file, std::ios::binary | std::ios::app) << "\n[Common]\nLogLevel=600\n";
  EXPECT_EQ(platform::GetPrivateProfileIntA("Common", "LogLevel", 9, file.c_str()), 9u);
}

// Sets an environment variable (null: unsets it) for the scope, then puts
// it back.
class ScopedVariable {
 public:
  explicit ScopedVariable(const char* name) : name_(name) {
    const char* value = getenv(name);
    saved_ = value != nullptr;
    if (saved_) value_ = value;
  }
  ~ScopedVariable() {
    if (saved_) {
      setenv(name_, value_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  void Set(const char* value) const {
    if (value == nullptr) {
      unsetenv(name_);
    } else {
      setenv(name_, value, 1);
    }
  }

 private:
  const char* name_;
  bool saved_ = false;
  std::string value_;
};

// /tmp is shared by every user: only an absolute $TMPDIR that names a folder
// is taken; otherwise the user's private folder.
TEST_F(LinuxSystemTest, TemporaryFolderAndItsLongForm) {
  char buffer[platform::kMaxPath];
  const ScopedVariable tmpdir("TMPDIR");
  const ScopedVariable runtime("XDG_RUNTIME_DIR");
  const std::string uid = std::to_string(geteuid());
  const std::string shared = "/tmp/devicecode-" + uid + "/";
  fs::create_directory(root_ / "run");
  fs::permissions(root_ / "run", fs::perms::owner_all);
  fs::create_directory(root_ / "open");
  fs::permissions(root_ / "open", fs::perms::all);
  const std::string run = (root_ / "run").string();
  const std::string open = (root_ / "open").string();
  struct Case {
    const char* tmpdir;   // null: unset
    const char* runtime;  // $XDG_RUNTIME_DIR; null: unset
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, shared},         {"", nullptr, shared},
      {"tmp", nullptr, shared},           {"/nonexistent/tmp", nullptr, shared},
      {"/var/tmp", nullptr, "/var/tmp/"}, {"/var/tmp/", run.c_str(), "/var/tmp/"},
      {nullptr, run.c_str(), run + "/"},  {"relative", run.c_str(), run + "/"},
      {nullptr, open.c_str(), shared},  // others may write there
      {nullptr, "run", shared},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tmpdir != nullptr ? c.tmpdir : "(unset)") + " " +
                 (c.runtime != nullptr ? c.runtime : "(unset)"));
    tmpdir.Set(c.tmpdir);
    runtime.Set(c.runtime);
    ASSERT_EQ(platform::GetTempPathA(sizeof buffer, buffer), c.expected.size());
    EXPECT_EQ(std::string(buffer), c.expected);
  }
  // The private folder under /tmp: made for this user alone.
  struct stat status {};
  ASSERT_EQ(lstat(shared.c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(status.st_uid, geteuid());
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  runtime.Set(nullptr);
  EXPECT_EQ(platform::GetFallbackTempFolder(), shared + "TrelLog/");
  runtime.Set(run.c_str());
  EXPECT_EQ(platform::GetFallbackTempFolder(), run + "/TrelLog/");

  // Too small a buffer: the size needed, and the buffer untouched.
  tmpdir.Set("/var/tmp");
  std::strcpy(buffer, "kept");
  EXPECT_EQ(platform::GetTempPathA(5, buffer), 10u);
  EXPECT_STREQ(buffer, "kept");

  // The long form is the canonical path, still ending with "/".
  fs::create_directories(root_ / "real");
  fs::create_symlink(root_ / "real", root_ / "link");
  std::strcpy(buffer, (root_ / "link").c_str());
  std::strcat(buffer, "/");
  const std::string expected = fs::canonical(root_ / "real").string() + "/";
  EXPECT_EQ(platform::GetLongPathNameA(buffer, buffer, sizeof buffer), expected.size());
  EXPECT_EQ(std::string(buffer), expected);
  std::strcpy(buffer, (root_ / "missing/").c_str());
  EXPECT_EQ(platform::GetLongPathNameA(buffer, buffer, sizeof buffer), 0u);
}

// In a folder another user may write, only a plain file of ours with one
// link takes the log, and the open's O_NONBLOCK (which keeps a planted FIFO
// from blocking it) is gone once the file is accepted.
TEST_F(LinuxSystemTest, LogFileInASharedFolder) {
  const fs::path shared = root_ / "shared";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  const platform::LogFile own = platform::PrepareLogFile((root_ / "own.log").string());
  EXPECT_FALSE(own.shared);
  platform::ReleaseLogFile(own);

  const platform::LogFile file = platform::PrepareLogFile((shared / "host.log").string());
  ASSERT_TRUE(file.shared);
  EXPECT_EQ(file.flags & (O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC),
            O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  ASSERT_TRUE(platform::ActivateLogFile(file));

  std::ofstream(shared / "plain") << "";
  std::ofstream(shared / "linked") << "";
  fs::create_hard_link(shared / "linked", shared / "second name");
  ASSERT_EQ(mkfifo((shared / "fifo").c_str(), 0600), 0);
  struct Case {
    const char* name;
    bool accepted;
  };
  for (const Case& c : {Case{"plain", true}, Case{"linked", false}, Case{"fifo", false}}) {
    SCOPED_TRACE(c.name);
    const int fd = open((shared / c.name).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::AcceptLogFile(file, fd), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    }
    close(fd);
  }
  // A FIFO without a reader under the log's name fails the open at once.
  ASSERT_EQ(mkfifo((shared / "host.log").c_str(), 0600), 0);
  errno = 0;
  EXPECT_LT(open(file.name.c_str(), O_WRONLY | O_APPEND | O_CREAT | file.flags, 0644), 0);
  EXPECT_EQ(errno, ENXIO);
  platform::ReleaseLogFile(file);
}

TEST(LinuxModuleTest, HostAndOwnModule) {
  // Linked into this executable, the library's code is the host's own.
  platform::MemoryBasicInformation info{};
  ASSERT_NE(platform::VirtualQuery(reinterpret_cast<const void*>(&platform::VirtualQuery), &info,
                                   sizeof info),
            0u);
  EXPECT_EQ(info.AllocationBase, platform::GetModuleHandleA(nullptr));
  EXPECT_NE(info.AllocationBase, nullptr);

  char buffer[platform::kMaxPath];
  const std::string exe = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(platform::GetModuleFileNameA(nullptr, buffer, sizeof buffer), exe.size());
  EXPECT_EQ(std::string(buffer), exe);
  EXPECT_EQ(platform::GetModuleFileNameA(info.AllocationBase, buffer, sizeof buffer), exe.size());
  // Cut to size - 1 characters, and size returned.
  EXPECT_EQ(platform::GetModuleFileNameA(nullptr, buffer, 5), 5u);
  EXPECT_EQ(std::string(buffer), exe.substr(0, 4));
}

TEST(LinuxProcessTest, SessionAndProcess) {
  EXPECT_EQ(platform::GetCurrentProcessId(), static_cast<std::uint32_t>(getpid()));
  std::ifstream in("/proc/self/sessionid");
  unsigned long long expected = 4294967295ull;
  in >> expected;
  std::uint32_t session = 12345;
  const int ok = platform::ProcessIdToSessionId(platform::GetCurrentProcessId(), &session);
  if (expected >= 4294967295ull) {
    EXPECT_EQ(ok, 0);
  } else {
    EXPECT_NE(ok, 0);
    EXPECT_EQ(session, expected);
  }
}

TEST(LinuxPathTest, RemoveFileSpec) {
  struct Case {
    const char* path;
    const char* expected;
    bool changed;
  };
  const Case cases[] = {{"/a/b/lib.so", "/a/b", true}, {"/lib.so", "/", true},  {"/", "/", false},
                        {"lib.so", "", true},          {"/a/b/", "/a/b", true}, {"", "", false}};
  for (const Case& c : cases) {
    char buffer[64];
    std::strcpy(buffer, c.path);
    EXPECT_EQ(platform::PathRemoveFileSpecA(buffer) != 0, c.changed) << c.path;
    EXPECT_STREQ(buffer, c.expected) << c.path;
  }
}

}  // namespace
