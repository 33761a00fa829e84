#include "monitor/event_log.h"

#include "monitor/one_line_text.h"

namespace quorvel {

void EventLog::ListAdd(std::string_view event) {
  // Every line is one line, whoever logs it and whatever the network put in its text.
  std::string text = OneLineText(event);
  // A repeat past the count limit spills onto a line whose text has one more trailing space.
  auto found = rowOfText_.find(text);
  while (found != rowOfText_.end() &&
         lines_[static_cast<std::size_t>(found->second)].count >= kMaxCount) {
    if (text == kFullText) {
      return;  // the list is full and its last line has counted all it can
    }
    text += ' ';
    found = rowOfText_.find(text);
  }

  if (found != rowOfText_.end()) {
    const int row = found->second;
    Entry& entry = lines_[static_cast<std::size_t>(row)];
    ++entry.count;
    const std::string line = Render(entry);
    if (observer_ != nullptr) observer_->LineChanged(row, line);
    return;
  }

  if (LineCount() >= kMaxLines - 1 && text != kFullText) {
    // The last free line announces that the list is full and counts what could not be shown.
    ListAdd(kFullText);
    return;
  }

  const int row = LineCount();
  lines_.push_back(Entry{1, text});
  rowOfText_.emplace(std::move(text), row);
  const std::string line = Render(lines_.back());
  if (observer_ != nullptr) observer_->LineAdded(row, line);
}

void EventLog::Clear() {
  lines_.clear();
  rowOfText_.clear();
  if (observer_ != nullptr) observer_->Cleared();
}

std::string EventLog::Line(int row) const {
  return Render(lines_.at(static_cast<std::size_t>(row)));
}

std::vector<std::string> EventLog::Lines() const {
  std::vector<std::string> out;
  out.reserve(lines_.size());
  for (const Entry& entry : lines_) out.push_back(Render(entry));
  return out;
}

std::string EventLog::Render(const Entry& entry) {
  return std::to_string(entry.count) + " x " + entry.text;
}

}  // namespace quorvel
