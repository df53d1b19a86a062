// The batch mode's building blocks: JSON Lines records, lists of input names, and documents
// extracted on threads but written in input order.
#ifndef DORVEX_BATCH_H
#define DORVEX_BATCH_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dorvex.h"

namespace dorvex_cli {

// Appends utf8 as a JSON string, quotes included. The result is always valid JSON in valid
// UTF-8, whatever the input: each maximal ill-formed subpart becomes one U+FFFD (the Unicode
// standard's practice, what browsers and Python's "replace" do). Control characters (C0, DEL,
// C1) and U+2028/U+2029, which end lines in JavaScript, come out as \u escapes with small hex
// digits; '"' and '\' as \" and \\. Runs that need nothing are copied whole.
void append_json_string(std::string& out, std::string_view utf8);

// The JSON name of an error class (DORVEX_ERROR_*): "encrypted", "unsupported", "damaged",
// "read", "limit"; nullptr for DORVEX_ERROR_NONE. A number this program does not know (a newer
// library) is "damaged": a failure must never read as success.
const char* error_class_name(int error);

// One JSON Lines record for a document, ending in '\n'. Keys in this order: path, format,
// status, error (null or error_class_name), text, messages (array of strings), bytes (the
// input's size), ms (time taken, three decimals whatever the locale; negative or not finite: 0;
// at most 10^15), truncated (only when with_truncated: the program was given a character
// limit), metadata (an object of the fields the document states, in the order of
// dorvex_metadata; left out when it states none). Null pointers in the result read as empty
// strings and arrays.
std::string json_record(std::string_view path, const dorvex_result& result, std::uint64_t bytes,
                        double ms, bool with_truncated);

// Reads input names for --files-from: one per line ('\n'; a '\r' before it is dropped), or with
// null_separated one per NUL-terminated piece. A last name without its terminator counts; an
// empty name is no name. In line mode a name may hold a NUL byte: it is kept whole, so that the
// caller can refuse it rather than open the shorter name a C string would make of it
// (has_nul_byte). False on a read error (names read before it are kept).
bool read_input_names(std::FILE* in, bool null_separated, std::vector<std::string>& names);

inline bool has_nul_byte(std::string_view name) {
  return name.find('\0') != std::string_view::npos;
}

// Results that may wait for their turn to be emitted, per thread: enough that a slow document
// rarely stalls the others, few enough that memory stays bounded by a few documents per thread.
constexpr std::size_t kPendingPerThread = 4;
// More threads than this are not started, whatever was asked.
constexpr unsigned kMaxThreads = 256;

// The number of threads run_ordered starts for a request: 0 is one per core (1 when that is
// unknown), at most kMaxThreads and never more than there is work for (at least 1).
unsigned ordered_threads(unsigned requested, std::size_t count);

// Runs work(i) for i in [0, count) on threads (0: one per core) and calls emit(i, result) on the
// calling thread, in order of i. At most kPendingPerThread * threads results exist at once. When
// emit returns false (output failed) no further work starts, the work under way is finished and
// dropped, and run_ordered returns false; true when every result was emitted. With one thread
// everything runs on the calling thread. An exception from work is thrown again from run_ordered
// when its result's turn comes, after the threads have stopped.
template <typename Result>
bool run_ordered(std::size_t count, unsigned threads,
                 const std::function<Result(std::size_t)>& work,
                 const std::function<bool(std::size_t, Result&)>& emit) {
  const unsigned n = ordered_threads(threads, count);
  if (n <= 1) {
    for (std::size_t i = 0; i < count; ++i) {
      Result r = work(i);
      if (!emit(i, r)) return false;
    }
    return true;
  }
  struct Slot {
    std::optional<Result> result;
    std::exception_ptr error;
  };
  const std::size_t window = kPendingPerThread * n;
  std::vector<Slot> slots(window);
  std::mutex m;
  std::condition_variable ready;  // a slot was filled
  std::condition_variable room;   // a slot was emptied, or the run stops
  std::size_t next_work = 0, next_emit = 0;
  bool stop = false;
  auto worker = [&] {
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
      room.wait(lock, [&] { return stop || next_work >= count || next_work < next_emit + window; });
      if (stop || next_work >= count) return;
      const std::size_t i = next_work++;
      lock.unlock();
      Slot done;
      try {
        done.result.emplace(work(i));
      } catch (...) {
        done.error = std::current_exception();
      }
      lock.lock();
      slots[i % window] = std::move(done);
      if (i == next_emit) ready.notify_one();
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(n);
  for (unsigned t = 0; t < n; ++t) pool.emplace_back(worker);
  bool completed = true;
  std::exception_ptr error;
  for (std::size_t i = 0; i < count; ++i) {
    Slot slot;
    {
      std::unique_lock<std::mutex> lock(m);
      Slot& s = slots[i % window];
      ready.wait(lock, [&] { return s.result.has_value() || s.error; });
      slot = std::move(s);
      s = Slot{};
      ++next_emit;
    }
    room.notify_all();
    if (slot.error) {
      error = slot.error;
      completed = false;
      break;
    }
    if (!emit(i, *slot.result)) {
      completed = false;
      break;
    }
  }
  {
    std::lock_guard<std::mutex> lock(m);
    stop = true;
  }
  room.notify_all();
  for (std::thread& t : pool) t.join();
  if (error) std::rethrow_exception(error);
  return completed;
}

}  // namespace dorvex_cli

#endif  // DORVEX_BATCH_H
