#include "wire/replace.h"

namespace quorvel {

Bytes ReplaceAll(BytesView text, BytesView from, BytesView to) {
  if (from.empty()) {
    return Bytes(text);
  }
  Bytes out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t hit = text.find(from); hit != BytesView::npos; hit = text.find(from, start)) {
    out.append(text, start, hit - start);
    out.append(to);
    start = hit + from.size();
  }
  out.append(text, start);
  return out;
}

}  // namespace quorvel
