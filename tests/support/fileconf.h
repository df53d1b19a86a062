// Helpers for the path-search and configuration tests: run code apart (a child process on POSIX
// systems, a separate extraction on Windows) and collect its exit status and exact output, set
// and unset environment variables, and put the process-wide settings back afterwards.
#ifndef DORVEX_TESTS_FILECONF_H
#define DORVEX_TESTS_FILECONF_H

#ifdef _WIN32
#include <io.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

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

// Runs fn apart, with standard output and error sent to temporary files. A run that returns from
// fn has status 0; one that calls end_program has its status.
//
// On POSIX systems fn runs in a forked child. Windows has no fork: fn runs in this process, in an
// extraction of its own that starts with a copy of the current one's settings, as a child's
// would, and is thrown away afterwards, so what fn changes of them goes with it; HOME, which the
// tests set there, is put back too. Descriptors 1 and 2 point at the files meanwhile.
inline ChildResult run_in_child(const std::function<void()>& fn) {
  std::fflush(nullptr);
  std::FILE* out = temp_stream();
  std::FILE* err = temp_stream();
  if (!out || !err) return {-2, "", "no temporary file"};
#ifdef _WIN32
  std::optional<std::string> home;
  if (const char* h = std::getenv("HOME")) home = h;
  dorvex::Extraction* child = dorvex::new_extraction();
  if (!child) return {-2, "", "no memory for an extraction"};
  static_cast<dorvex::RunSettings&>(*child) = static_cast<const dorvex::RunSettings&>(dorvex::ctx());
  child->out_file = dorvex::ctx().out_file;
  child->output = dorvex::ctx().output;
  child->messages = dorvex::ctx().messages;
  const int saved_out = _dup(1), saved_err = _dup(2);
  _dup2(_fileno(out), 1);
  _dup2(_fileno(err), 2);
  int status = 0;
  {
    dorvex::ExtractionScope scope(*child);
    try {
      fn();
    } catch (const dorvex::ProgramEnd& end) {
      status = end.status;
    }
    std::fflush(nullptr);
  }
  _dup2(saved_out, 1);
  _dup2(saved_err, 2);
  _close(saved_out);
  _close(saved_err);
  dorvex::delete_extraction(child);
  set_env("HOME", home ? home->c_str() : nullptr);
  ChildResult r{status, slurp(out), slurp(err)};
#else
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    int status = 0;
    try {
      fn();
    } catch (const dorvex::ProgramEnd& end) {
      status = end.status;
    }
    std::fflush(nullptr);
    _exit(status);
  }
  int st = 0;
  if (pid < 0 || waitpid(pid, &st, 0) != pid) st = -1;
  ChildResult r{pid > 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(out), slurp(err)};
#endif
  std::fclose(out);
  std::fclose(err);
  return r;
}

// Makes path the program's path, as set_program_path does with a path that holds a directory.
// On Windows, where the program's path always comes from the system, it is put in place.
inline void use_program_path(const std::string& path) {
#ifdef _WIN32
  static std::string kept;
  kept = path;
  dorvex::ctx().program_path = kept.c_str();
#else
  dorvex::set_program_path(path.c_str());
#endif
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
    set_env("HOME", home_ ? home_->c_str() : nullptr);
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
