// Configuration files built to hurt the reader: nesting that would overflow a
// small thread stack inside the TOML library, and files that are not files.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "TempDir.hpp"
#include "px/Config.hpp"

namespace {

constexpr std::string_view kGroup = "sccp-screening";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kSanitizerFactor = 4;  // instrumented frames are several times larger
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t kSanitizerFactor = 4;
#else
constexpr std::size_t kSanitizerFactor = 1;
#endif
#else
constexpr std::size_t kSanitizerFactor = 1;
#endif
// A signalling node may reload its configuration on a thread this small.
constexpr std::size_t kSmallStack = 64 * 1024 * kSanitizerFactor;

// Runs `body` on a thread with a 64 KiB stack in a child process, so that a
// stack overflow fails the test instead of ending the test program. True when
// the child ran to the end and `body` returned true.
bool passesOnSmallStack(const std::function<bool()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    pthread_attr_t attr;
    ::pthread_attr_init(&attr);
    ::pthread_attr_setstacksize(&attr, kSmallStack);
    pthread_t thread;
    bool ok = false;
    auto run = [](void* arg) -> void* {
      auto* job = static_cast<std::pair<const std::function<bool()>*, bool*>*>(arg);
      *job->second = (*job->first)();
      return nullptr;
    };
    std::pair<const std::function<bool()>*, bool*> job{&body, &ok};
    if (::pthread_create(&thread, &attr, run, &job) != 0) ::_exit(3);
    ::pthread_join(thread, nullptr);
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string repeat(std::string_view part, std::size_t n) {
  std::string out;
  out.reserve(part.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += part;
  return out;
}

struct NestingCase {
  const char* name;
  std::string text;
  bool accepted;
  std::uint32_t line = 0;  // of the refusal
  std::uint32_t column = 0;
};

// The bound (64 levels) is accepted and parses within the small stack; one
// level more is refused at the octet that goes too deep, before the parser
// sees the file. Without the bound, the large cases overflow the stack.
TEST(ConfigNesting, DeepFilesAreRefusedBeforeParsingWithTheirPosition) {
  const std::string group = "[sccp-screening]\n";
  const NestingCase cases[] = {
      {"dotted key at the bound", group + repeat("a.", 64) + "a = 1\n", true},
      {"dotted key one part deeper", group + repeat("a.", 65) + "a = 1\n", false, 2, 130},
      {"dotted key of 50,000 parts", group + repeat("a.", 49999) + "a = 1\n", false, 2, 130},
      {"table header at the bound", "[" + repeat("a.", 64) + "a]\nx = 1\n", true},
      {"table header of 50,000 parts", "[" + repeat("a.", 49999) + "a]\nx = 1\n", false, 1, 131},
      {"array of tables header", "[[" + repeat("a.", 49999) + "a]]\nx = 1\n", false, 1, 132},
      {"key below a deep header", "[" + repeat("a.", 40) + "a]\n" + repeat("b.", 30) + "b = 1\n",
       false, 2, 50},
      {"arrays at the bound", group + "x = " + repeat("[", 64) + repeat("]", 64) + "\n", true},
      {"arrays of 100,000 levels", group + "x = " + repeat("[", 100000) + "\n", false, 2, 69},
      {"inline tables", group + "x = " + repeat("{a = ", 20000) + "1" + repeat("}", 20000) + "\n",
       false, 2, 325},
      {"dotted keys inside inline tables",
       group + "x = " + repeat("{a.a = ", 20000) + "1" + repeat("}", 20000) + "\n", false, 2, 229},
      // Brackets and dots in strings and comments are text, not nesting.
      {"strings and comments",
       group + "x = \"" + repeat("[a.", 5000) + "\"\ny = '" + repeat("{.", 5000) +
           "'\nz = \"\"\"\n" + repeat("[.\\\"", 5000) + "\"\"\"\n# " + repeat("[.", 5000) + "\n\"" +
           repeat(".", 500) + "\" = 1\n",
       true},
      {"many floats on one line", group + "x = [" + repeat("1.5, ", 5000) + "1.5]\n", true},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.write("nested.toml", c.text);
    const bool passed = passesOnSmallStack([&] {
      PXConfig config(path);
      config.allowSingleGroup(kGroup);
      const PXConfigReadResult r = config.read();
      if (c.accepted) return r.ok();
      return r.status == PXConfigReadResult::Status::syntaxError && r.line == c.line &&
             r.column == c.column &&
             r.message == path + ':' + std::to_string(c.line) + ':' + std::to_string(c.column) +
                              ": nested deeper than 64 levels (dotted keys, table headers, "
                              "arrays, inline tables)" &&
             !config.getSingleGroup(kGroup);
    });
    EXPECT_TRUE(passed);
  }
}

// A FIFO would block the open (and a reload) until a writer came; it is
// refused at once, like every other file that is not a regular file.
TEST(ConfigFiles, AFifoOrDeviceIsRefusedWithoutWaiting) {
  TempDir dir;
  const std::string fifo = (dir.path() / "config.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    // In a child, so that a reader that blocks fails the test instead of hanging it.
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(10);
      PXConfig config(path);
      config.allowSingleGroup(kGroup);
      const auto r = config.read();
      ::_exit(r.status == PXConfigReadResult::Status::cannotRead &&
                      r.message == path + ": not a regular file"
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
}

}  // namespace
