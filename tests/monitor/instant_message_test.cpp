#include "monitor/instant_message.h"

#include <gtest/gtest.h>

#include "monitor_fakes.h"
#include "test_bytes.h"

namespace quorvel::testing {
namespace {

// A channel-1 message to "bob" whose TLV 2 holds `fragments`, with SNAC `flags`.
Bytes Message(BytesView fragments, int flags = 0, BytesView extra = "") {
  Bytes snac =
      Snac(4, 6, Bytes(extra) + Bytes(8, 7) + Bytes{0, 1} + "\3bob" + MakeTLV(2, fragments));
  PutWord(snac, 4, static_cast<std::uint16_t>(flags));
  return Flap(snac);
}

Bytes Fragment(char id, BytesView data) {
  return Bytes{id, 1} + IntToWord(static_cast<int>(data.size())) + Bytes(data);
}

TEST(InstantMessageText, ReadsTheFirstTextFragmentOfAWholeMessage) {
  const Bytes caps = Fragment(5, "\1"), hi = Fragment(1, Hex("00 00 00 00") + "hi");
  EXPECT_EQ(InstantMessageText(Message(caps + hi + Fragment(1, Bytes(4, 0) + "2nd"))), "hi");
  EXPECT_EQ(InstantMessageText(Message(hi, 0x8000, Hex("00 02 AB CD"))), "hi");
  EXPECT_EQ(InstantMessageText(Message(Fragment(1, Hex("00 02 00 00 D8 3D 00 41")))),
            "\xEF\xBF\xBD"
            "A");  // a lone surrogate
  EXPECT_EQ(InstantMessageText(Message(Fragment(1, Hex("00 03 FF FF E9")))), "\xC3\xA9");
  for (const Bytes& frame : {
           Message(caps),                                          // no text
           Message(caps + hi.substr(0, hi.size() - 1)),            // a fragment past the end
           Message(Fragment(1, "\0\0\0")),                         // no room for the character set
           Message(Fragment(1, Hex("00 02 00 00 00 41 00"))),      // half a UCS-2 character
           Message(hi, 0x8000, Hex("00 09")),                      // extra data past the end
           Flap(Snac(4, 6, Bytes(8, 7) + Bytes{0, 1} + "\7bob")),  // the name runs past the end
           Flap(Snac(4, 7, Bytes(8, 7) + Bytes{0, 1} + "\3bob" + MakeTLV(2, hi))),  // received
           Flap(Snac(0x104, 6, Bytes(8, 7) + Bytes{0, 1} + "\3bob" + MakeTLV(2, hi))),
           Message(hi).substr(0, Message(hi).size() - 1),  // TLV 2 cut short
           Bytes(Message(hi)).replace(1, 1, "\5"),         // another FLAP channel
       }) {
    EXPECT_EQ(InstantMessageText(frame), std::nullopt) << ToHex(frame);
  }
}

}  // namespace
}  // namespace quorvel::testing
