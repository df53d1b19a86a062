// Helpers for the path-search and configuration tests: run code in a child process and collect
// its exit status and exact output, and put the process-wide settings back afterwards.
#ifndef DORVEX_TESTS_FILECONF_H
#define DORVEX_TESTS_FILECONF_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "context.h"
#include "fixture.h"

#include "confutil.h"
#include "fileutil.h"

namespace testing_support {

struct ChildResult {
  int status;  // exit status, or -1 when the child did not exit normally
  std::string out;
  std::string err;
};

inline std::string slurp(std::FILE* f) { return testing_support::read_stream(f); }

// Runs fn in a forked child with standard output and error sent to temporary files. A child
// that returns from fn exits with 0; one that calls end_program exits with its status.
inline ChildResult run_in_child(const std::function<void()>& fn) {
  std::fflush(nullptr);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (!out || !err) return {-2, "", "tmpfile failed"};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    fn();
    std::fflush(nullptr);
    _exit(0);
  }
  int st = 0;
  if (pid < 0 || waitpid(pid, &st, 0) != pid) st = -1;
  ChildResult r{pid > 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(out), slurp(err)};
  std::fclose(out);
  std::fclose(err);
  return r;
}

// Saves the settings a test may change (and HOME) and restores them at scope exit. The test
// binaries never record a program path, so it goes back to "" (the test binary itself).
class SettingsGuard {
 public:
  SettingsGuard()
      : charset_path_(dorvex::ctx().charset_path),
        map_path_(dorvex::ctx().map_path),
        source_(dorvex::ctx().source_csname),
        dest_(dorvex::ctx().dest_csname),
        format_(dorvex::ctx().format_name),
        bad_char_(dorvex::ctx().bad_char[0]),
        target_named_(dorvex::ctx().target_named),
        use_locale_(dorvex::ctx().use_locale) {
    if (const char* h = std::getenv("HOME")) home_ = h;
  }
  ~SettingsGuard() {
    dorvex::ctx().charset_path = charset_path_;
    dorvex::ctx().map_path = map_path_;
    dorvex::ctx().source_csname = source_;
    dorvex::ctx().dest_csname = dest_;
    dorvex::ctx().format_name = format_;
    dorvex::ctx().bad_char[0] = bad_char_;
    dorvex::ctx().target_named = target_named_;
    dorvex::ctx().use_locale = use_locale_;
    if (home_)
      setenv("HOME", home_->c_str(), 1);
    else
      unsetenv("HOME");
    dorvex::set_program_path("");
  }
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

 private:
  const char* charset_path_;
  const char* map_path_;
  const char* source_;
  const char* dest_;
  const char* format_;
  char bad_char_;
  bool target_named_;
  bool use_locale_;
  std::optional<std::string> home_;
};

}  // namespace testing_support

#endif  // DORVEX_TESTS_FILECONF_H
