#pragma once
// The event log: one line per distinct event text, "count x text", repeats folded into the count.
// A model with no widget in it; the window and the headless front end observe it.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

class EventLogObserver {
 public:
  virtual ~EventLogObserver() = default;
  virtual void LineAdded(int row, const std::string& line) = 0;
  virtual void LineChanged(int row, const std::string& line) = 0;
  virtual void Cleared() = 0;
};

class EventLog {
 public:
  // The list holds at most this many lines (its row index is a signed 16-bit value).
  static constexpr int kMaxLines = 32767;
  // A count goes no higher than this; the next repeat counts on a line of its own, whose text
  // carries one more trailing space.
  static constexpr std::int64_t kMaxCount = 10000;
  // Stands on the last line once the list is full; later new texts are counted on it.
  static constexpr std::string_view kFullText = "Event log full: press Clear to see new events";

  // Counts `event` on the line whose text is exactly `event`, or appends "1 x event". Control
  // characters in `event` are shown as "\xNN" (OneLineText). Costs the same whatever the number
  // of lines. Observers may call back into the log.
  void ListAdd(std::string_view event);

  // Removes every line; counting starts again from 1.
  void Clear();

  int LineCount() const { return static_cast<int>(lines_.size()); }
  // "count x text" of the line at `row` (0 at the top).
  std::string Line(int row) const;
  std::vector<std::string> Lines() const;

  // One observer at a time (the front end); nullptr detaches.
  void SetObserver(EventLogObserver* observer) { observer_ = observer; }

 private:
  struct Entry {
    std::int64_t count;
    std::string text;
  };
  static std::string Render(const Entry& entry);

  std::vector<Entry> lines_;
  std::unordered_map<std::string, int> rowOfText_;
  EventLogObserver* observer_ = nullptr;
};

}  // namespace quorvel
