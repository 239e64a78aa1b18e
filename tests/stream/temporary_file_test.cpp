// Temporary files that are only ever new and their owner's alone, and the registry through
// which a signal that ends the process removes exactly what is registered.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "process_watch.hpp"
#include "stream/signal_cleanup.hpp"
#include "stream/temporary_file.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

class Folder {
 public:
  Folder() {
    char pattern[] = "/tmp/isocull_temporary_XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(path_))
      found.push_back(entry.path().filename().string());
    return found;
  }

 private:
  std::string path_;
};

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

mode_t permissions(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(TemporaryFile, IsOnlyEverANewFileForItsOwnerAloneAndNeverOpensThroughALink) {
  Folder folder;
  ASSERT_FALSE(folder.path().empty());
  write_text(folder / "victim", "victim");
  write_text(folder / "taken", "taken");
  ASSERT_EQ(symlink((folder / "victim").c_str(), (folder / "link").c_str()), 0);
  ASSERT_EQ(symlink((folder / "nowhere").c_str(), (folder / "dangling").c_str()), 0);
  for (const char* name : {"taken", "link", "dangling"}) {
    SCOPED_TRACE(name);
    TemporaryFile file;
    errno = 0;
    EXPECT_FALSE(file.create(folder / name));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(file.is_open());
  }
  EXPECT_EQ(read_text(folder / "victim"), "victim");
  EXPECT_EQ(read_text(folder / "taken"), "taken");
  EXPECT_FALSE(fs::exists(folder / "nowhere")) << "a dangling link is not followed either";

  {
    TemporaryFile file;
    ASSERT_TRUE(file.create(folder / "fresh"));
    EXPECT_EQ(file.name(), folder / "fresh");
    EXPECT_EQ(permissions(folder / "fresh"), 0600u);
    EXPECT_EQ(std::fputs("data", file.file()), 1);
    TemporaryFile moved = std::move(file);
    EXPECT_FALSE(file.is_open());
    EXPECT_TRUE(fs::exists(folder / "fresh")) << "a move keeps the file";
  }
  EXPECT_FALSE(fs::exists(folder / "fresh")) << "the destructor removes it";

  TemporaryFile first, second;
  ASSERT_TRUE(first.create_unique(folder / "beside.tmp"));
  ASSERT_TRUE(second.create_unique(folder / "beside.tmp"));
  EXPECT_NE(first.name(), second.name());
  EXPECT_EQ(first.name().rfind(folder / "beside.tmp", 0), 0u);
  EXPECT_EQ(first.name().size(), (folder / "beside.tmp").size() + 6);
  EXPECT_EQ(permissions(second.name()), 0600u);
}

TEST(TemporaryFile, CommitPutsItInPlaceWithTheModeAskedAndReplacesOnlyWhenAllowed) {
  Folder folder;
  ASSERT_FALSE(folder.path().empty());
  write_text(folder / "there", "there before");
  {
    TemporaryFile file;
    ASSERT_TRUE(file.create_unique(folder / "there.tmp"));
    std::fputs("new", file.file());
    const std::string temporary = file.name();
    errno = 0;
    EXPECT_FALSE(file.commit(folder / "there", 0640, false));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(read_text(folder / "there"), "there before");
    EXPECT_FALSE(fs::exists(temporary)) << "a failed commit removes the temporary";
  }
  {
    TemporaryFile file;
    ASSERT_TRUE(file.create_unique(folder / "there.tmp"));
    std::fputs("replaced", file.file());
    ASSERT_TRUE(file.commit(folder / "there", 0640, true));
    EXPECT_TRUE(file.name().empty());
  }
  EXPECT_EQ(read_text(folder / "there"), "replaced") << "a committed file stays";
  EXPECT_EQ(permissions(folder / "there"), 0640u);
  {
    TemporaryFile file;
    ASSERT_TRUE(file.create_unique(folder / "new.tmp"));
    std::fputs("first", file.file());
    ASSERT_TRUE(file.commit(folder / "new", 0604, false));
  }
  EXPECT_EQ(read_text(folder / "new"), "first");
  EXPECT_EQ(permissions(folder / "new"), 0604u);
  EXPECT_EQ(folder.names().size(), 2u) << "no temporary is left";
}

TEST(TemporaryFile, AnUnnamedFileLeavesNothingInItsFolder) {
  Folder folder;
  ASSERT_FALSE(folder.path().empty());
  std::FILE* file = create_unnamed_file(folder.path().c_str(), "unnamed-");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(folder.names().empty());
  EXPECT_EQ(std::fputs("kept", file), 1);
  std::rewind(file);
  char back[8] = {};
  EXPECT_EQ(std::fread(back, 1, 4, file), 4u);
  EXPECT_STREQ(back, "kept");
  std::fclose(file);
  errno = 0;
  EXPECT_EQ(create_unnamed_file((folder / "missing").c_str(), "unnamed-"), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

// Starts `sh -c script` in a process group of its own; its pid (the group) or -1.
pid_t start_group(const char* script) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  char sh[] = "/bin/sh", dash_c[] = "-c";
  std::string text = script;
  char* argv[] = {sh, dash_c, text.data(), nullptr};
  pid_t pid = -1;
  const int started = posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  return started == 0 ? pid : -1;
}

// Waits for `path` to hold `lines` lines; its numbers.
std::vector<pid_t> wait_for_pids(const std::string& path, std::size_t lines) {
  for (int tries = 0; tries < 1000; tries++) {
    std::ifstream in(path);
    std::vector<pid_t> pids;
    long pid = 0;
    while (in >> pid)
      pids.push_back(static_cast<pid_t>(pid));
    if (pids.size() >= lines) return pids;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

TEST(SignalCleanup, ASignalRemovesWhatIsRegisteredEndsTheProgramGroupsAndEndsTheProcess) {
  Folder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string pids = folder / "pids";
  const std::string script =
      "echo $$ >> '" + pids + "'; sleep 30 & echo $! >> '" + pids + "'; wait";
  const pid_t child = fork();
  if (child == 0) {
    signal_cleanup::install();
    TemporaryFile file, forgotten, committed;
    if (!file.create(folder / "spill") || !forgotten.create(folder / "forgotten") ||
        !committed.create_unique(folder / "layer.tmp") ||
        !committed.commit(folder / "layer", 0644, true)) {
      _exit(2);
    }
    forgotten = TemporaryFile();  // removed: its name is free again
    write_text(folder / "forgotten", "not ours any more");
    signal_cleanup::Registration inner_folder;
    {
      signal_cleanup::Making making;
      if (mkdir((folder / "inner").c_str(), 0700) != 0) _exit(3);
      inner_folder = making.register_path(signal_cleanup::Kind::kFolder, folder / "inner");
    }
    // Registered after its folder: the folder goes once it is gone.
    TemporaryFile inner_file;
    if (!inner_file.create(folder / "inner/spill")) _exit(3);
    signal_cleanup::Registration program;
    {
      signal_cleanup::Making making;
      const pid_t group = start_group(script.c_str());
      program = making.register_program(group);
    }
    if (wait_for_pids(pids, 2).size() != 2) _exit(4);
    raise(SIGTERM);
    _exit(5);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM) << "ended by the signal that asked for it";
  EXPECT_FALSE(fs::exists(folder / "spill"));
  EXPECT_FALSE(fs::exists(folder / "inner"));
  EXPECT_EQ(read_text(folder / "forgotten"), "not ours any more");
  EXPECT_TRUE(fs::exists(folder / "layer")) << "a committed file is no temporary";
  const std::vector<pid_t> started = wait_for_pids(pids, 2);
  ASSERT_EQ(started.size(), 2u);
  for (pid_t pid : started)
    EXPECT_TRUE(process_watch::ends_within(pid, 5)) << "process " << pid << " of the group";
}

TEST(SignalCleanup, AHandlerWaitsForAFileBeingMadeOnAnotherThreadAndRemovesIt) {
  Folder folder;
  ASSERT_FALSE(folder.path().empty());
  const pid_t child = fork();
  if (child == 0) {
    signal_cleanup::install();
    std::atomic<bool> making{false};
    std::thread maker([&] {
      signal_cleanup::Making hold;
      const int descriptor =
          open((folder / "made").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      making = true;
      // The signal arrives now, the file made but not registered yet: the handler (on the
      // main thread) must wait for it.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      signal_cleanup::Registration registration =
          hold.register_path(signal_cleanup::Kind::kFile, folder / "made");
      std::this_thread::sleep_for(std::chrono::seconds(30));
      close(descriptor);
    });
    while (!making)
      std::this_thread::yield();
    raise(SIGTERM);
    _exit(5);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(folder.names().empty()) << "the file made while the signal arrived is gone";
}

TEST(SignalCleanup, AWriteBeyondTheFileSizeLimitFailsInsteadOfEndingTheProcess) {
  Folder folder;
  ASSERT_FALSE(folder.path().empty());
  const pid_t child = fork();
  if (child == 0) {
    signal_cleanup::install();
    const rlimit limit{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    const int descriptor = open((folder / "big").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    const std::vector<char> bytes(8192, 'x');
    const ssize_t written = write(descriptor, bytes.data(), bytes.size());
    const ssize_t beyond = write(descriptor, bytes.data(), bytes.size());
    _exit(written == 4096 && beyond == -1 && errno == EFBIG ? 0 : 3);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
