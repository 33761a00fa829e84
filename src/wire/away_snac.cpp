#include "wire/away_snac.h"

#include "wire/tlv.h"

namespace quorvel {

Bytes MakeAwaySNAC(BytesView mime, BytesView text) {
  static constexpr char kHeader[] = {0x00, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04};
  Bytes mimeTlv = MakeTLV(kTlvAwayMime, mime);
  Bytes textTlv = MakeTLV(kTlvAwayText, text);
  Bytes out(kHeader, sizeof kHeader);
  out.reserve(out.size() + mimeTlv.size() + textTlv.size());
  out += mimeTlv;
  out += textTlv;
  return out;
}

}  // namespace quorvel
