#include "monitor/event_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvel {
namespace {

using ::testing::ElementsAre;

TEST(EventLog, FoldsRepeatsOfTheSameTextUpToTenThousandPerLineUntilFull) {
  EventLog log;
  for (const char* e : {"A", "B", "A", "Box bob", "bob", "x bob", "", "", "A"}) log.ListAdd(e);
  EXPECT_THAT(log.Lines(),
              ElementsAre("3 x A", "1 x B", "1 x Box bob", "1 x bob", "1 x x bob", "2 x "));
  log.Clear();
  for (int i = 0; i < 10000; ++i) log.ListAdd("A");
  EXPECT_THAT(log.Lines(), ElementsAre("10000 x A"));
  for (int i = 0; i < 10001; ++i) log.ListAdd("A");
  EXPECT_THAT(log.Lines(), ElementsAre("10000 x A", "10000 x A ", "1 x A  "));

  // A full list says so on its last line, and still counts the texts it holds.
  log.Clear();
  for (int i = 0; i < EventLog::kMaxLines + 5; ++i) log.ListAdd("event " + std::to_string(i));
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 2), "1 x event 32765");
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 1), "6 x " + std::string(EventLog::kFullText));
  log.ListAdd("event 0");
  EXPECT_EQ(log.Line(0), "2 x event 0");
  for (int i = 0; i < 20000; ++i) log.ListAdd("more");  // saturates, never recurses
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 1), "10000 x " + std::string(EventLog::kFullText));
}

TEST(EventLog, ShowsWhatCouldBreakOrSteerALineAsEscapes) {
  EventLog log;
  // Escape sequences, a forged line, the C1 controls, the Unicode line separator, a byte that is
  // no UTF-8; letters beyond ASCII stay.
  for (const char* e :
       {"Update \x1B]0;title\x07\x1B[2J", "Update a\r\n1 x Socket (0): FAKE\x7F",
        "\xC2\x9B\xC2\x85 \xE2\x80\xA8 \xE9t\xC3\xA9", "Update a\r\n1 x Socket (0): FAKE\x7F"}) {
    log.ListAdd(e);
  }
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Update \\x1B]0;title\\x07\\x1B[2J",
                                       "2 x Update a\\x0D\\x0A1 x Socket (0): FAKE\\x7F",
                                       "1 x \\xC2\\x9B\\xC2\\x85 \\xE2\\x80\\xA8 \\xE9t\xC3\xA9"));
}

// Logs from inside its callbacks, as a front end reacting to a line might.
struct ReentrantObserver : EventLogObserver {
  void LineAdded(int row, const std::string& line) override { React("+", row, line); }
  void LineChanged(int row, const std::string& line) override { React("~", row, line); }
  void Cleared() override { seen.push_back("clear"); }
  void React(const std::string& kind, int row, const std::string& line) {
    seen.push_back(kind + std::to_string(row) + " " + line);
    if (seen.back() == "+0 1 x first") log.ListAdd("nested");
    if (seen.back() == "~1 2 x nested") log.Clear();
  }
  EventLog log;
  std::vector<std::string> seen;
};

TEST(EventLog, NestedCallsFromTheObserverLeaveItConsistent) {
  ReentrantObserver observer;
  observer.log.SetObserver(&observer);
  observer.log.ListAdd("first");
  observer.log.ListAdd("nested");
  observer.log.ListAdd("nested");
  EXPECT_THAT(observer.seen, ElementsAre("+0 1 x first", "+1 1 x nested", "~1 2 x nested", "clear",
                                         "+0 1 x nested"));
}

}  // namespace
}  // namespace quorvel
