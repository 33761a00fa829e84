#include "monitor/extract_message.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(ExtractMessage, TakesTheTypedLineOutOfTheBody) {
  struct Case {
    const char* from;
    const char* extract;
    const char* expected;
  };
  const Case cases[] = {
      {"<HTML><BODY><FONT>.a brb</FONT></BODY></HTML>", ".a ", "brb"},
      {"<HTML><BODY><FONT>.a brb .a x</FONT></BODY></HTML>", ".a ", "brb .a x"},
      {"<HTML><BODY><FONT>.a </FONT></BODY></HTML>", ".a ", ""},
      // Missing pieces, or too little between them, give nothing rather than a crash.
      {"<HTML><BODY><FONT>brb</FONT></BODY></HTML>", ".a ", ""},
      {"<HTML><BODY><FONT>.a brb</FONT></BODY>", ".a ", ""},
      {"</HTML><HTML>.a brb</FONT></BODY>", ".a ", ""},
      {".a b</HTML>", ".a ", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractMessage(c.from, c.extract), c.expected) << c.from;
  }
}

}  // namespace
}  // namespace quorvel
