#include "monitor/event_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvel {
namespace {

using ::testing::ElementsAre;

TEST(EventLog, FoldsRepeatsIntoTheCountOfTheirOwnLine) {
  EventLog log;
  log.ListAdd("Local Socket Closed");
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Local Socket Closed"));

  log.ListAdd("A");
  log.ListAdd("B");
  log.ListAdd("A");
  log.ListAdd("Local Socket Closed");
  log.ListAdd("A");
  EXPECT_THAT(log.Lines(), ElementsAre("2 x Local Socket Closed", "3 x A", "1 x B"));
}

TEST(EventLog, MatchesWholeTextsOnly) {
  EventLog log;
  log.ListAdd("Box bob");
  log.ListAdd("bob");
  log.ListAdd("x bob");
  log.ListAdd("");
  log.ListAdd("");
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Box bob", "1 x bob", "1 x x bob", "2 x "));
}

TEST(EventLog, SpillsPastTenThousandOntoALineWithATrailingSpace) {
  EventLog log;
  for (int i = 0; i < 9999; ++i) log.ListAdd("A");
  EXPECT_EQ(log.Line(0), "9999 x A");
  log.ListAdd("A");
  EXPECT_EQ(log.Line(0), "10000 x A");
  log.ListAdd("A");
  log.ListAdd("A");
  EXPECT_THAT(log.Lines(), ElementsAre("10000 x A", "2 x A "));
  for (int i = 0; i < 9998; ++i) log.ListAdd("A");
  log.ListAdd("A");
  EXPECT_THAT(log.Lines(), ElementsAre("10000 x A", "10000 x A ", "1 x A  "));
}

TEST(EventLog, ClearStartsCountingAgain) {
  EventLog log;
  log.Clear();
  EXPECT_EQ(log.LineCount(), 0);
  log.ListAdd("Port Changed");
  log.ListAdd("Port Changed");
  log.Clear();
  log.ListAdd("Port Changed");
  EXPECT_THAT(log.Lines(), ElementsAre("1 x Port Changed"));
}

TEST(EventLog, AFullListKeepsRunningAndSaysSoOnItsLastLine) {
  EventLog log;
  for (int i = 0; i < EventLog::kMaxLines + 5; ++i) log.ListAdd("event " + std::to_string(i));
  ASSERT_EQ(log.LineCount(), EventLog::kMaxLines);
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 2), "1 x event 32765");
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 1), "6 x " + std::string(EventLog::kFullText));
  log.ListAdd("event 0");  // existing lines still count
  EXPECT_EQ(log.Line(0), "2 x event 0");
  for (int i = 0; i < 20000; ++i) log.ListAdd("more");  // saturates, never recurses
  EXPECT_EQ(log.Line(EventLog::kMaxLines - 1), "10000 x " + std::string(EventLog::kFullText));
  EXPECT_EQ(log.LineCount(), EventLog::kMaxLines);
}

// An observer that logs from inside its callbacks, as a front end reacting to a line might.
class ReentrantObserver : public EventLogObserver {
 public:
  explicit ReentrantObserver(EventLog& log) : log_(log) {}
  void LineAdded(int row, const std::string& line) override {
    seen.push_back("+" + std::to_string(row) + " " + line);
    if (line == "1 x first") log_.ListAdd("nested");
  }
  void LineChanged(int row, const std::string& line) override {
    seen.push_back("~" + std::to_string(row) + " " + line);
    if (line == "2 x nested") log_.Clear();
  }
  void Cleared() override { seen.push_back("clear"); }
  std::vector<std::string> seen;

 private:
  EventLog& log_;
};

TEST(EventLog, NestedCallsFromObserversLeaveItConsistent) {
  EventLog log;
  ReentrantObserver observer(log);
  log.SetObserver(&observer);
  log.ListAdd("first");
  log.ListAdd("nested");
  EXPECT_THAT(observer.seen,
              ElementsAre("+0 1 x first", "+1 1 x nested", "~1 2 x nested", "clear"));
  EXPECT_EQ(log.LineCount(), 0);
  log.ListAdd("nested");
  EXPECT_THAT(log.Lines(), ElementsAre("1 x nested"));
}

}  // namespace
}  // namespace quorvel
