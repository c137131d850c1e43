#include "sorvel/Progress.h"

#include <cstdio>

#include "platform/StandardStreams.h"

namespace sorvel::tool {
namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(200);

std::string size(double bytes) {
  const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

}  // namespace

Progress::Progress(bool enabled, std::uint64_t totalItems, std::uint64_t totalBytes)
    : enabled_(enabled && standardErrorIsTerminal()), totalItems_(totalItems), totalBytes_(totalBytes) {}

void Progress::advance(std::uint64_t items, std::uint64_t bytes) {
  items_ += items;
  bytes_ += bytes;
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - start_ < kQuietStart || now - lastDraw_ < kRedraw) return;
  lastDraw_ = now;
  draw();
}

std::string Progress::format(std::uint64_t items, std::uint64_t totalItems, std::uint64_t bytes,
                             std::uint64_t totalBytes, double elapsed) {
  const double rate = elapsed > 0 ? static_cast<double>(bytes) / elapsed : 0;
  std::string line = std::to_string(items) + "/" + std::to_string(totalItems) + " items, " +
                     size(static_cast<double>(bytes)) + "/" + size(static_cast<double>(totalBytes)) + ", " +
                     size(rate) + "/s";
  if (rate > 0 && totalBytes >= bytes) {
    const auto left = static_cast<unsigned long long>(static_cast<double>(totalBytes - bytes) / rate);
    char eta[32];
    std::snprintf(eta, sizeof eta, ", ETA %llu:%02llu", left / 60, left % 60);
    line += eta;
  }
  return line;
}

void Progress::draw() {
  const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
  // Carriage return, the line, then erase whatever an earlier, longer line left behind.
  writeStatus("\r" + format(items_, totalItems_, bytes_, totalBytes_, elapsed) + std::string(kEraseLineEnd));
  shown_ = true;
}

void Progress::interrupt() {
  if (shown_) writeStatus("\r" + std::string(kEraseLineEnd));
  shown_ = false;
}

void Progress::finish() {
  interrupt();
  enabled_ = false;
}

}  // namespace sorvel::tool
