// The engine stand-in packs the files of an engine file list into an archive
// and unpacks it again byte for byte, takes every argument form the module
// passes, and stops, continues and ends on the signals the module forwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/cases/standin_test.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace {

using kevra_test::ProgramResult;
using kevra_test::read_file;
using kevra_test::write_file;

const std::string kEngine = "/opt/kelvomar/bin/hxfd";
const std::string kKeys = " -x /opt/kelvomar/keys/master-key,/opt/kelvomar/keys/secret-key.pem";
const std::string kSecret = "/opt/kelvomar/var/tasks//task_secret_T1";

class StandinEngine : public kevra_test::StandinTest {
 protected:
  void arrange() override {
    p_.fixture({"task-secret", "T1"});
    op_ = kevra_test::scratch_dir("op");
    data_ = kevra_test::scratch_dir("data dir");
    ::mkdir((op_ + "/a1.snap_dir").c_str(), 0755);
    std::string all_bytes;
    for (int b = 0; b < 256; ++b) {
      all_bytes += static_cast<char>(b);
    }
    std::string big;
    for (int i = 0; big.size() < (1u << 20) + 3; ++i) {
      big += std::to_string(i * 7919) + ",";
    }
    big.resize((1u << 20) + 3);
    files_ = {{data_ + "/empty", ""},
              {data_ + "/one", "1"},
              {data_ + "/bytes", all_bytes},
              {data_ + "/big", big},
              {data_ + "/odd : name", "colon inside the path"}};
    std::string list = "HXFD file list:\n";
    int n = 0;
    for (const auto& [path, content] : files_) {
      write_file(path, content);
      list += "   " + path + " : vd-disk-" + std::to_string(n++) + "\n";
    }
    ::chmod((data_ + "/one").c_str(), 0640);
    list_ = op_ + "/a1.hxfd.list";
    write_file(list_, list);
  }

  std::string backup_server(const std::string& extra = "") const {
    return "cd / && " + kEngine + " -a sha2 -2  -b 16384 -c " + list_ + kKeys + " -z None" + extra +
           " -M media1 -N a1 -T T1 -s " + kSecret + " -m " + meta() + " 2>&1";
  }

  std::string restore_server(const std::string& dir, const std::string& extra = "") const {
    return kEngine + " -a sha2 -2  -b 16384 -R 42 -M media1 -T T1 -s " + kSecret + " -m " + meta() + " -d " + dir +
           extra + " 2>&1";
  }

  std::string meta() const { return op_ + "/a1.snap_dir/a1.meta"; }

  std::string fresh_dir(const std::string& name) const {
    const std::string dir = op_ + "/" + name;
    ::mkdir(dir.c_str(), 0755);
    return dir;
  }

  void expect_restored(const std::string& dir) const {
    int n = 0;
    for (const auto& [path, content] : files_) {
      const std::string restored = dir + "/vd-disk-" + std::to_string(n++);
      EXPECT_EQ(read_file(restored), content) << restored;
      struct stat st {};
      ASSERT_EQ(::stat(restored.c_str(), &st), 0) << restored;
      EXPECT_EQ(st.st_size, static_cast<off_t>(content.size()));
    }
    struct stat st {};
    ::stat((dir + "/vd-disk-1").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "modes survive";
  }

  std::string op_, data_, list_;
  std::vector<std::pair<std::string, std::string>> files_;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

TEST_F(StandinEngine, ServerBackupPacksTheListAndRestoreUnpacksItByteForByte) {
  KEVRA_REQUIRE_SANDBOX();
  const auto packed = p_.shell(backup_server());
  ASSERT_EQ(packed.exit_status, 0) << packed.out;
  const auto lines = lines_of(packed.out);
  ASSERT_EQ(lines.size(), 7u) << packed.out;
  EXPECT_TRUE(std::all_of(lines[0].begin() + 10, lines[0].end(), ::isdigit)) << lines[0];
  EXPECT_EQ(lines[0].rfind("HXFD PID: ", 0), 0u);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(lines[i].rfind("Packed: " + std::to_string(i) + "/5 files", 0), 0u) << lines[i];
  }
  EXPECT_EQ(lines[6].rfind("Transferred: ", 0), 0u);
  EXPECT_NE(read_file(meta()), "");
  EXPECT_EQ(p_.fixture({"archives"}), "a1");
  EXPECT_NE(p_.fixture({"archive-files", "a1"}).find("vd-disk-3\t1048579"), std::string::npos);

  const std::string dir = fresh_dir("42.rest");
  const auto unpacked = p_.shell(restore_server(dir));
  ASSERT_EQ(unpacked.exit_status, 0) << unpacked.out;
  const auto restored_lines = lines_of(unpacked.out);
  ASSERT_EQ(restored_lines.size(), 6u);
  EXPECT_EQ(restored_lines[0].rfind("HXFD PID: ", 0), 0u);
  EXPECT_EQ(restored_lines[5].rfind("Unpacked: 5/5 files", 0), 0u);
  expect_restored(dir);
}

TEST_F(StandinEngine, AutonomousBackupWritesTheArchiveFileItRestoresFrom) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string archive = op_ + "/a1.hxfd";
  const auto packed = p_.shell("cd / && " + kEngine + " -a sha2 -2  -b 16384 -c " + list_ + kKeys + " -z fast -n " +
                               archive + " -m " + meta() + " 2>&1");
  ASSERT_EQ(packed.exit_status, 0) << packed.out;
  EXPECT_EQ(packed.out.find("Transferred: "), std::string::npos) << "nothing goes to a media server";
  struct stat st {};
  ASSERT_EQ(::stat(archive.c_str(), &st), 0);
  const std::string dir = fresh_dir("a1.rest");
  const auto unpacked = p_.shell(kEngine + " -a sha2 -2  -b 16384 -r " + archive + " -d " + dir + " 2>&1");
  ASSERT_EQ(unpacked.exit_status, 0) << unpacked.out;
  expect_restored(dir);
}

TEST_F(StandinEngine, TakesEveryArgumentFormTheModulePasses) {
  KEVRA_REQUIRE_SANDBOX();
  write_file(op_ + "/restrictions", "/forbidden\n");
  write_file(op_ + "/key", "0123456789abcdef0123456789abcdef");
  const std::string sign = " -g " + op_ + "/a1.signature --passin /opt/kelvomar/keys/master-key"
                           " --sign /opt/kelvomar/keys/secret-key.pem";
  const std::vector<std::string> backups = {
      " -p 4",
      " -e worker_parallelism:4,enable_multithreading:yes",
      " --numeric-owner -X " + op_ + "/restrictions",
      " -z best --memory-threshold 100",
      sign,
      " -S " + meta(),  // incremental: the reference meta file of the previous backup
      " -C kuznyechik -k " + op_ + "/key",
  };
  for (const auto& extra : backups) {
    SCOPED_TRACE(extra);
    const auto result = p_.shell(backup_server(extra));
    EXPECT_EQ(result.exit_status, 0) << result.out;
  }
  ProgramResult result;
  // The last archive was encrypted: restores need the same key.
  const std::string granular = op_ + "/granular";
  write_file(granular, "vd-disk-2\n");
  const std::vector<std::pair<std::string, int>> restores = {
      {" -C kuznyechik -k " + op_ + "/key", 0},
      {" -C kuznyechik -k " + op_ + "/key -E -p 2 --set-to-numeric", 0},
      {" -C kuznyechik -k " + op_ + "/key -f " + granular, 0},
      {"", 1},
      {" -C kuznyechik -k " + op_ + "/restrictions", 1},
  };
  int n = 0;
  for (const auto& [extra, status] : restores) {
    SCOPED_TRACE(extra);
    const std::string dir = fresh_dir("r" + std::to_string(n++));
    result = p_.shell(restore_server(dir, extra));
    EXPECT_EQ(result.exit_status, status) << result.out;
  }
  EXPECT_EQ(read_file(op_ + "/r2/vd-disk-2"), files_[2].second);
  EXPECT_NE(::access((op_ + "/r2/vd-disk-0").c_str(), F_OK), 0) << "-f restores only the listed names";
  // The file listing of the closing step.
  result = p_.shell(kEngine + " -l '" + meta() + "' -v 1 2>&1");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(result.out.find("vd-disk-4\t21\n"), std::string::npos) << result.out;
}

TEST_F(StandinEngine, ArchiveMadeByTheFixtureRestoresLikeABackup) {
  KEVRA_REQUIRE_SANDBOX();
  std::vector<std::string> args{"make-archive", "a1", "--server", "media1", "--meta", meta()};
  int n = 0;
  for (const auto& [path, content] : files_) {
    args.push_back("--entry");
    args.push_back("vd-disk-" + std::to_string(n++) + "=" + path);
  }
  p_.fixture(args);
  const std::string dir = fresh_dir("from-fixture");
  const auto result = p_.shell(restore_server(dir));
  ASSERT_EQ(result.exit_status, 0) << result.out;
  expect_restored(dir);
}

TEST_F(StandinEngine, SignatureFileVerifiesTheArchiveAndNothingElse) {
  KEVRA_REQUIRE_SANDBOX();
  const std::string archive = op_ + "/a1.hxfd";
  const std::string signature = archive + ".signature";
  ASSERT_EQ(p_.shell("cd / && " + kEngine + " -a sha2 -2  -b 16384 -c " + list_ + kKeys + " -n " + archive + " -m " +
                     meta() + " -g " + signature +
                     " --passin /opt/kelvomar/keys/master-key --sign /opt/kelvomar/keys/secret-key.pem")
                .exit_status,
            0);
  const std::string check = kEngine + " -n '" + archive + "' -g '" + signature +
                            "' --verify --public-key '/opt/kelvomar/keys/secret-key.pem'";
  EXPECT_EQ(p_.shell(check).exit_status, 0);
  write_file(archive, read_file(archive) + "x");
  EXPECT_EQ(p_.shell(check).exit_status, 1);
}

TEST_F(StandinEngine, AddPutsFurtherRecordsIntoAnArchive) {
  KEVRA_REQUIRE_SANDBOX();
  ASSERT_EQ(p_.shell(backup_server()).exit_status, 0);
  write_file(op_ + "/extra", "special record");
  const std::string add_list = op_ + "/add.list";
  write_file(add_list, "HXFD file list:\n   " + op_ + "/extra : special\n");
  auto result = p_.shell("cd '" + op_ + "' && " + kEngine + " -a sha2 -2  -b 16384 -U a1 --add " + add_list +
                         " -M media1 -T T1 -s " + kSecret + " -m " + meta() + " 2>&1");
  ASSERT_EQ(result.exit_status, 0) << result.out;
  const std::string dir = fresh_dir("after-add");
  ASSERT_EQ(p_.shell(restore_server(dir)).exit_status, 0);
  EXPECT_EQ(read_file(dir + "/special"), "special record");
  expect_restored(dir);
  // Autonomous: the archive file itself gets the record.
  const std::string archive = op_ + "/b1.hxfd";
  ASSERT_EQ(p_.shell("cd / && " + kEngine + " -a sha2 -2  -b 16384 -c " + list_ + kKeys + " -n " + archive + " -m " +
                     op_ + "/b1.meta")
                .exit_status,
            0);
  write_file(op_ + "/extra", "second special record");
  result = p_.shell("cd '" + op_ + "' && " + kEngine + " -a sha2 -2  -b 16384 -u " + archive + " --add " + add_list +
                    " 2>&1");
  ASSERT_EQ(result.exit_status, 0) << result.out;
  const std::string again = fresh_dir("after-add-autonomous");
  ASSERT_EQ(p_.shell(kEngine + " -a sha2 -2  -b 16384 -r " + archive + " -d " + again).exit_status, 0);
  EXPECT_EQ(read_file(again + "/special"), "second special record");
  expect_restored(again);
}

TEST_F(StandinEngine, RefusesWhatTheRealEngineCouldNotDo) {
  KEVRA_REQUIRE_SANDBOX();
  ASSERT_EQ(p_.shell(backup_server()).exit_status, 0);
  const std::string dir = fresh_dir("refused");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {backup_server(" -z fastest"), "unknown compression"},
      {"cd / && " + kEngine + " -a sha2 -2  -b 16384 -c " + list_ + kKeys +
           " -M media1 -N a1 -T T9 -s /opt/kelvomar/var/tasks//task_secret_T9 -m " + meta() + " 2>&1",
       "cannot read task secret"},
      {"cd / && " + kEngine + " -a sha2 -2  -b 16384 -c " + list_ +
           " -x /opt/kelvomar/keys/none,/opt/kelvomar/keys/secret-key.pem -M media1 -N a1 -T T1 -s " + kSecret +
           " -m " + meta() + " 2>&1",
       "cannot read master key"},
      {backup_server(" -S " + op_ + "/missing.meta"), "cannot read reference meta file"},
      {kEngine + " -a sha2 -2  -b 16384 -R 42 -M media2 -T T1 -s " + kSecret + " -m " + meta() + " -d " + dir + " 2>&1",
       "not found on media server media2"},
      {kEngine + " -a sha2 -2  -b 16384 -R 42 -M media1 -T T1 -s " + kSecret + " -m " + op_ + "/none.meta -d " + dir +
           " 2>&1",
       "cannot read meta file"},
      {kEngine + " -a sha2 -2  -b 16384 -R 42 -M media1 -T T1 -s " + kSecret + " -m " + meta() + " -d " + op_ +
           "/no-such-dir 2>&1",
       "does not exist"},
      {kEngine + " -q 2>&1", "unknown argument '-q'"},
      {"cd / && " + kEngine + " -c " + list_ +
           " -x '/opt/kelvomar/keys/master-key,/opt/kelvomar/keys/secret-key.pem,/forbidden," + data_ +
           "' -M media1 -N a1 -T T1 -s " + kSecret + " -m " + meta() + " 2>&1",
       "is a restricted resource"},
  };
  for (const auto& [command, message] : cases) {
    SCOPED_TRACE(command);
    const auto result = p_.shell(command);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out.rfind("HXFD PID: ", 0), 0u);
    EXPECT_NE(result.out.find(message), std::string::npos) << result.out;
  }
  write_file(files_[1].first + ".list", "HXFD file list:\n   /no/such/file : x\n");
  const auto missing = p_.shell("cd / && " + kEngine + " -c " + files_[1].first + ".list -M m -N b2 -T T1 -s " + kSecret +
                                " -m " + op_ + "/b2.meta 2>&1");
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(p_.fixture({"archives"}), "a1") << "a failed backup stores nothing";
}

// Starts the engine without waiting; returns its pid, read from the PID line.
pid_t start_engine(const std::vector<std::string>& argv, int& out_fd) {
  int fds[2];
  if (::pipe(fds) != 0) {
    return -1;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    std::vector<char*> args;
    for (const auto& arg : argv) {
      args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  out_fd = fds[0];
  return pid;
}

char process_state(pid_t pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

bool wait_for_state(pid_t pid, bool stopped) {
  for (int i = 0; i < 200; ++i) {
    if ((process_state(pid) == 'T') == stopped) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(StandinEngine, StopsOnSigtstpContinuesOnSigcontAndEndsOnSigterm) {
  KEVRA_REQUIRE_SANDBOX();
  p_.fixture({"fault", "hxfd", "backup", "--delay", "30"});
  int out_fd = -1;
  const pid_t pid = start_engine({kEngine, "-c", list_, "-M", "m", "-N", "a2", "-T", "T1", "-s", kSecret, "-m",
                                  op_ + "/a2.meta"},
                                 out_fd);
  ASSERT_GT(pid, 0);
  std::string first;
  for (char c; first.find('\n') == std::string::npos && ::read(out_fd, &c, 1) == 1;) {
    first += c;
  }
  EXPECT_EQ(first, "HXFD PID: " + std::to_string(pid) + "\n");
  ASSERT_EQ(::kill(pid, SIGTSTP), 0);
  EXPECT_TRUE(wait_for_state(pid, true)) << "stopped";
  ASSERT_EQ(::kill(pid, SIGCONT), 0);
  EXPECT_TRUE(wait_for_state(pid, false)) << "running again";
  // Let it log the continue before it is told to end.
  const std::string events_file = std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/calls/hxfd.events";
  for (int i = 0; i < 200 && read_file(events_file).find(" SIGCONT\n") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(out_fd);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  const std::string events = read_file(events_file);
  const std::string me = std::to_string(pid) + " ";
  EXPECT_NE(events.find(me + "started backup\n" + me + "SIGTSTP\n" + me + "SIGCONT\n" + me + "SIGTERM\n"),
            std::string::npos)
      << events;
  EXPECT_EQ(p_.fixture({"archives"}), "") << "an engine ended early stores nothing";
}

}  // namespace
