// The real program with its standard streams closed, redirected, broken or on
// a terminal. VELTO_EXE names the program when ctest runs this test.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace velto {
namespace {

using namespace std::chrono_literals;

const char* program() {
  return std::getenv("VELTO_EXE");
}

// Both ends close on exec; dup2 clears the flag on the copy the child keeps.
struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  void close_read() {
    if (read >= 0) {
      ::close(read);
      read = -1;
    }
  }
  void close_write() {
    if (write >= 0) {
      ::close(write);
      write = -1;
    }
  }
};

// The child's standard streams: a descriptor to copy, or -1 to leave closed.
struct ChildStreams {
  int in = -1;
  int out = -1;
  int err = -1;
};

pid_t spawn(const std::vector<std::string>& args, ChildStreams streams) {
  std::vector<std::string> all{program()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    const int wanted[3] = {streams.in, streams.out, streams.err};
    for (int fd = 0; fd < 3; ++fd) {
      if (wanted[fd] < 0) {
        ::close(fd);
      } else if (wanted[fd] != fd) {
        dup2(wanted[fd], fd);
      } else {
        fcntl(fd, F_SETFD, 0);
      }
    }
    signal(SIGPIPE, SIG_DFL); // the program must ignore it on its own
    // A program started with these ignored keeps them ignored; this one is not.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The wait status, or -1 after killing a child that did not end in time.
int wait_for(pid_t pid, std::chrono::seconds limit = 120s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      return status;
    }
    if (done < 0 || std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(10ms);
  }
}

bool still_running(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}

// Reads until `marker` has arrived or the stream ends.
std::string read_until(int fd, const std::string& marker) {
  std::string text;
  char buffer[4096];
  while (text.find(marker) == std::string::npos) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// Everything until the stream ends.
std::string read_to_end(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// Everything a child writes on one descriptor, read on a thread of its own so
// that a child that writes much never blocks on a full pipe.
class Collector {
public:
  explicit Collector(int fd)
      : thread_([this, fd] {
          char buffer[4096];
          for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
              break;
            }
            const std::lock_guard lock(mutex_);
            text_.append(buffer, static_cast<std::size_t>(n));
          }
        }) {}
  ~Collector() { join(); }
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  // Whether `marker` arrived within `limit`.
  bool wait_for(const std::string& marker, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (text().find(marker) != std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  // Waits for the end of the stream.
  void join() {
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  std::string text() {
    const std::lock_guard lock(mutex_);
    return text_;
  }

private:
  std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};

// Whether `signal_number` still waits for the process `pid` to take it.
bool signal_pending(pid_t pid, int signal_number) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("ShdPnd:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (signal_number - 1) & 1) != 0;
    }
  }
  return false;
}

const std::vector<std::string> kShortRun = {
    "-s", "64", "-d", "1", "-n", "1", "--bypass-timer-check"};

class Streams : public ::testing::Test {
protected:
  void SetUp() override {
    if (program() == nullptr) {
      GTEST_SKIP() << "VELTO_EXE is not set (ctest sets it)";
    }
    null_ = open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(null_, 0);
  }
  void TearDown() override {
    if (null_ >= 0) {
      close(null_);
    }
  }
  int null_ = -1;
};

// Whether this machine's fast timer meets the HWBOT rules: a run with the check
// bypassed warns on the error stream when it does not.
bool timer_is_compliant(int null_fd) {
  Pipe out;
  const pid_t pid = spawn({"--timer-debug"}, {null_fd, out.write, null_fd});
  out.close_write();
  const std::string report = read_to_end(out.read);
  wait_for(pid);
  return report.find("Fast timer is hwbot compliant") != std::string::npos;
}

// A write that fails is a failure, whatever the action: status 1, and the
// error stream says so when it is standard output that failed.
TEST_F(Streams, BrokenClosedOrFullStandardOutputEndsWithStatusOne) {
  const int dev_full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(dev_full, 0);
  enum class Out { reader_gone, closed, full };
  struct Case {
    std::vector<std::string> args;
    Out out;
  };
  const Case cases[] = {
      {{"--help"}, Out::reader_gone}, {{"--help"}, Out::closed},
      {{"--help"}, Out::full},        {{"--timer-debug"}, Out::reader_gone},
      {kShortRun, Out::reader_gone},  {kShortRun, Out::closed},
      {kShortRun, Out::full},
  };
  for (const auto& c : cases) {
    const std::string what = c.args[0] + " / " + std::to_string(static_cast<int>(c.out));
    Pipe out;
    Pipe err;
    ChildStreams streams{null_, -1, err.write};
    if (c.out == Out::reader_gone) {
      out.close_read(); // as `velto ... | head -c 0`: every write meets a closed pipe
      streams.out = out.write;
    } else if (c.out == Out::full) {
      streams.out = dev_full;
    }
    const pid_t pid = spawn(c.args, streams);
    ASSERT_GT(pid, 0) << what;
    err.close_write();
    const std::string errors = read_to_end(err.read);
    const int status = wait_for(pid);
    ASSERT_TRUE(WIFEXITED(status))
        << what << ": ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : -1);
    EXPECT_EQ(WEXITSTATUS(status), 1) << what;
    EXPECT_TRUE(errors.ends_with("could not write to standard output\n")) << what << ": " << errors;
    EXPECT_EQ(errors.find("could not write"), errors.rfind("could not write")) << what; // once
  }
  close(dev_full);
}

TEST_F(Streams, AFullErrorStreamEndsWithStatusOneWhenSomethingWasWrittenThere) {
  const int dev_full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(dev_full, 0);
  struct Case {
    std::vector<std::string> args;
    bool out_full;
    int status;
  };
  // A run with the timer check bypassed warns on the error stream only where
  // the timer is not compliant; elsewhere it writes nothing there and succeeds.
  const int short_run_status = timer_is_compliant(null_) ? 0 : 1;
  const Case cases[] = {
      {{"--size", "100"}, false, 1}, // refused, and the refusal could not be shown
      {kShortRun, false, short_run_status},
      {{"--help"}, false, 0}, // nothing for the error stream
      {{"--help"}, true, 1},  // both full
  };
  for (const auto& c : cases) {
    const std::string what = c.args[0] + (c.out_full ? " / both full" : "");
    const pid_t pid = spawn(c.args, {null_, c.out_full ? dev_full : null_, dev_full});
    ASSERT_GT(pid, 0) << what;
    const int status = wait_for(pid);
    ASSERT_TRUE(WIFEXITED(status)) << what;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << what;
  }
  close(dev_full);
}

TEST_F(Streams, StandardOutputToAFileHoldsTheWholeHelp) {
  char path[] = "/tmp/velto-streams-XXXXXX";
  const int file = mkstemp(path);
  ASSERT_GE(file, 0);
  const pid_t pid = spawn({"--help"}, {null_, file, null_});
  const int status = wait_for(pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string text(1 << 16, '\0');
  const ssize_t n = pread(file, text.data(), text.size(), 0);
  ASSERT_GT(n, 0);
  text.resize(static_cast<std::size_t>(n));
  close(file);
  unlink(path);
  EXPECT_EQ(text.rfind("USAGE:", 0), 0u) << text;
  EXPECT_TRUE(text.ends_with("  8192               32.02 TiB\n")) << text;
}

TEST_F(Streams, PromptEndsAtOneCharacterOrEndOfInputWhateverStandardInputIs) {
  enum class In { dev_null, closed, pipe_closed, pipe_enter, terminal_enter };
  for (const In kind :
       {In::dev_null, In::closed, In::pipe_closed, In::pipe_enter, In::terminal_enter}) {
    const int k = static_cast<int>(kind);
    Pipe in;
    Pipe out;
    int terminal = -1;
    int terminal_child = -1;
    ChildStreams streams{-1, out.write, null_};
    switch (kind) {
    case In::dev_null:
      streams.in = null_;
      break;
    case In::closed:
      break;
    case In::pipe_closed:
    case In::pipe_enter:
      streams.in = in.read;
      break;
    case In::terminal_enter:
      terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      ASSERT_GE(terminal, 0);
      ASSERT_EQ(grantpt(terminal), 0);
      ASSERT_EQ(unlockpt(terminal), 0);
      terminal_child = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
      ASSERT_GE(terminal_child, 0);
      streams.in = terminal_child;
      break;
    }
    const pid_t pid = spawn(kShortRun, streams);
    ASSERT_GT(pid, 0) << k;
    out.close_write();
    in.close_read();
    const std::string shown = read_until(out.read, "press enter to exit\n");
    EXPECT_TRUE(shown.ends_with("press enter to exit\n")) << k << shown;

    if (kind == In::pipe_closed || kind == In::pipe_enter || kind == In::terminal_enter) {
      // Nothing typed yet: the program waits.
      std::this_thread::sleep_for(300ms);
      EXPECT_TRUE(still_running(pid)) << k;
    }
    if (kind == In::pipe_closed) {
      in.close_write();
    } else if (kind == In::pipe_enter) {
      ASSERT_EQ(::write(in.write, "\n", 1), 1);
    } else if (kind == In::terminal_enter) {
      ASSERT_EQ(::write(terminal, "\n", 1), 1);
    }
    const int status = wait_for(pid, 60s);
    ASSERT_TRUE(WIFEXITED(status)) << k;
    EXPECT_EQ(WEXITSTATUS(status), 0) << k;
    if (terminal >= 0) {
      close(terminal_child);
      close(terminal);
    }
  }
}

// A twenty-second run interrupted two seconds in (once it is in its timed
// loop), standard input a pipe that stays open: the prompt would wait forever.
struct Interrupted {
  int status = -1;
  std::string out;
  std::string err;
  std::chrono::steady_clock::duration after_signal{};
};

Interrupted interrupt_run(const std::vector<std::string>& args, const std::vector<int>& signals) {
  Interrupted r;
  Pipe in;
  Pipe out;
  Pipe err;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = spawn(args, {in.read, out.write, err.write});
  if (pid <= 0) {
    return r;
  }
  in.close_read();
  out.close_write();
  err.close_write();
  Collector shown(out.read);
  Collector errors(err.read);
  shown.wait_for("benchmarking... ", 120s);
  std::this_thread::sleep_until(start + 2s);
  const auto signalled = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < signals.size(); ++i) {
    if (i > 0) {
      // Signals of one number that wait together are taken as one: send the
      // next once the process has taken the one before.
      const auto limit = std::chrono::steady_clock::now() + 1s;
      while (signal_pending(pid, signals[i - 1]) && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
      }
    }
    kill(pid, signals[i]);
  }
  r.status = wait_for(pid, 60s);
  r.after_signal = std::chrono::steady_clock::now() - signalled;
  shown.join();
  errors.join();
  r.out = shown.text();
  r.err = errors.text();
  return r;
}

const std::vector<std::string> kLongRun = {
    "-s", "64", "-d", "20", "-n", "2", "--bypass-timer-check"};

TEST_F(Streams, AnInterruptionEndsTheRunAtOnceWithAnInvalidResultAndNoPrompt) {
  for (const int signal_number : {SIGINT, SIGTERM}) {
    const Interrupted r = interrupt_run(kLongRun, {signal_number});
    ASSERT_TRUE(WIFEXITED(r.status)) << signal_number << ": ended by signal "
                                     << (WIFSIGNALED(r.status) ? WTERMSIG(r.status) : -1) << "\n"
                                     << r.out << r.err;
    EXPECT_EQ(WEXITSTATUS(r.status), 1) << signal_number;
    EXPECT_LT(r.after_signal, 5s) << signal_number;
    // The progress line, ended; nothing after it.
    const std::string last = r.out.substr(r.out.rfind('\r') + 1);
    EXPECT_TRUE(std::regex_match(
        last, std::regex("benchmarking\\.\\.\\. [0-9]+/20s +[0-9.e+]+ MGups  [0-9]+ iterations\n")))
        << signal_number << ": " << r.out;
    EXPECT_EQ(r.out.find("press enter to exit"), std::string::npos) << signal_number;
    EXPECT_TRUE(r.err.ends_with("run interrupted; aborting\n"
                                "==================\n  invalid result \n==================\n"))
        << signal_number << ": " << r.err;
  }
}

// Ctrl-C ends a whole series, and the record keeps the run it stopped with
// its reason: hours of runs are not lost to an interruption.
TEST_F(Streams, AnInterruptedSeriesStillWritesItsRecord) {
  char folder[] = "/tmp/velto-record-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/interrupted.json";
  std::vector<std::string> args = kLongRun;
  args.insert(args.end(), {"--runs", "3", "--export-json", path});
  const Interrupted r = interrupt_run(args, {SIGINT});
  ASSERT_TRUE(WIFEXITED(r.status)) << r.out << r.err;
  EXPECT_EQ(WEXITSTATUS(r.status), 1);
  EXPECT_EQ(r.out.find("press enter to exit"), std::string::npos);
  std::ifstream file(path);
  ASSERT_TRUE(file.good()) << "no record at " << path << "\n" << r.err;
  const nlohmann::json record = nlohmann::json::parse(file);
  ASSERT_EQ(record["runs"].size(), 1u) << record.dump(1);
  const nlohmann::json& run = record["runs"][0];
  EXPECT_FALSE(run["valid"].get<bool>());
  EXPECT_TRUE(run["score_mgups"].is_null());
  EXPECT_NE(std::find(run["reasons"].begin(), run["reasons"].end(), "interrupted"),
            run["reasons"].end())
      << run["reasons"].dump();
  std::remove(path.c_str());
  rmdir(folder);
}

TEST_F(Streams, ASecondInterruptionEndsTheProcessAtOnce) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer holds a signal back until the thread it hit reaches one of
  // its interceptors, and two of one number merge meanwhile.
  GTEST_SKIP() << "ThreadSanitizer merges signals it holds back";
#endif
  // Iterations of some 40 ms (N = 192), so that the run cannot wind down
  // between the two.
  const Interrupted r =
      interrupt_run({"-s", "192", "-d", "20", "-n", "1", "--bypass-timer-check"}, {SIGINT, SIGINT});
  ASSERT_TRUE(WIFSIGNALED(r.status) || WIFEXITED(r.status)) << r.status;
  if (WIFEXITED(r.status)) {
    EXPECT_EQ(WEXITSTATUS(r.status), 130) << r.out << r.err;
  } else {
    EXPECT_EQ(WTERMSIG(r.status), SIGINT);
  }
  EXPECT_LT(r.after_signal, 5s);
  EXPECT_EQ(r.err.find("run interrupted"), std::string::npos) << r.err;
}

} // namespace
} // namespace velto
