// Giving the memory that the process has freed back to the operating system, and when to.
//
//   TrimPolicy policy(TrimPolicy::Limits{});  // the allocator's own reading and trim
//   server.answer(request);
//   policy.after_message(MessageKind::kRequest, request_bytes + reply_bytes);
//
// The allocator keeps freed pages for later allocations; a process that lives as long as the
// editor and spends most of its life idle should not hold a whole request's worth of them. But a
// trim visits every free chunk of every arena, and after a long session that is hundreds of
// thousands of system calls: it is worth it only when a message freed a lot, never after each one.
// The server owns the one policy; nothing below it trims.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>

namespace korvane {

// Trims the free memory of every arena, the worker threads' included.
void release_free_memory();

// The bytes the allocator holds free in all its arenas, whether still resident or already given
// back (a trim returns the pages but keeps the chunks); none where the C library cannot say.
std::optional<std::size_t> allocator_free_bytes();

// Told by a long computation where it has just freed memory on threads other than the one that
// goes on allocating, which cannot reuse it: `bytes` it knows it freed, 0 when it cannot say how
// much (tables and the like). Called on whichever thread freed it, the worker pool's included;
// whoever owns the trim policy decides what to do.
using MemoryFreed = std::function<void(std::size_t bytes)>;

// What a finished message was, as far as freed memory goes.
enum class MessageKind {
  kNotification,  // cancellations and the like: too small to free anything worth a trim
  kPing,          // the one request an editor sends over and over
  kRequest,       // any other request, and a message that did not decode
};

// Decides after each message, and where a request says it freed memory, whether to trim. Trims
// when, since the last trim, the allocator's free memory rose above its lowest reading by more than
// `free_growth` within a request or `settled_growth` after one (the message freed that much, most
// of it still resident), or the messages and
// replies added up to `traffic` bytes (what a run of requests touched and freed again without the
// free total ever rising). Free memory alone says nothing: after one big request it stays high,
// trimmed or not.
//
// Thread-safety: every member may be called from any thread; one mutex serializes them, trims
// included. The server calls it after each message on its message thread, and a computation
// reports frees from wherever they happen: a table build that runs out of memory on the pool
// drops its parse there.
class TrimPolicy {
 public:
  struct Limits {
    std::size_t free_growth = std::size_t{8} << 20;
    std::size_t traffic = std::size_t{8} << 20;
    std::size_t freed_step = std::size_t{1} << 20;
    // The growth that a finished request needs to trim. Lower than within a request: once its
    // reply is out the server idles, and a batch that trimmed midway frees its last tables and
    // parses after that trim, less than `free_growth` but still megabytes.
    std::size_t settled_growth = std::size_t{1} << 20;
  };
  using FreeBytes = std::function<std::optional<std::size_t>()>;
  using Trim = std::function<void()>;

  // The allocator's reading and release_free_memory.
  explicit TrimPolicy(Limits limits);
  // A seam for tests: any reading and any trim.
  TrimPolicy(Limits limits, FreeBytes free_bytes, Trim trim);

  // Called once a message is done and its reply, if any, written. `bytes` is the size of the
  // message and its reply. Returns whether it trimmed.
  bool after_message(MessageKind kind, std::size_t bytes);

  // Called from within a request where it freed memory (see MemoryFreed). Looks at the allocator
  // once `freed_step` bytes were reported since it last looked, or at once for 0 bytes, and trims
  // by the same rule as after a message. Returns whether it trimmed.
  bool after_freeing(std::size_t bytes);

  // Trims made so far.
  std::size_t trims() const;

 private:
  // Reads the allocator and trims when its free memory grew more than `growth` or `force`.
  // Called with the mutex held.
  bool look(std::size_t growth, bool force);

  const Limits limits_;
  const FreeBytes free_bytes_;
  const Trim trim_;
  mutable std::mutex mutex_;                // guards everything below
  std::optional<std::size_t> lowest_free_;  // since the last trim
  std::size_t traffic_ = 0;                 // since the last trim
  std::size_t freed_ = 0;                   // reported since the allocator was last read
  std::size_t trims_ = 0;
};

}  // namespace korvane
