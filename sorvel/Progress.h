#pragma once
// One self-updating line on standard error for long runs: items and bytes done of the total,
// rate and time left. Shown only on a terminal, and only once the work has gone on for a second
// (shorter work never shows it); cleared when the work ends.
#include <chrono>
#include <cstdint>
#include <string>

namespace sorvel::tool {

class Progress {
 public:
  // `enabled`: the caller allows it (no --quiet); standard error must be a terminal as well.
  Progress(bool enabled, std::uint64_t totalItems, std::uint64_t totalBytes);
  ~Progress() { finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void advance(std::uint64_t items, std::uint64_t bytes);
  // Takes the line away, if one is shown, so that a message can be written; the next advance
  // shows it again.
  void interrupt();
  // Clears the line, if one was shown; nothing shows afterwards.
  void finish();

  // The line for these counts after `elapsed` seconds.
  static std::string format(std::uint64_t items, std::uint64_t totalItems, std::uint64_t bytes,
                            std::uint64_t totalBytes, double elapsed);

 private:
  using Clock = std::chrono::steady_clock;
  void draw();

  bool enabled_;
  bool shown_ = false;
  std::uint64_t totalItems_;
  std::uint64_t totalBytes_;
  std::uint64_t items_ = 0;
  std::uint64_t bytes_ = 0;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDraw_{};
};

}  // namespace sorvel::tool
