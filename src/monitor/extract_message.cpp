#include "monitor/extract_message.h"

namespace quorvel {

Bytes ExtractMessage(BytesView from, BytesView extract) {
  static constexpr BytesView kHtmlEnd = "</HTML>";
  static constexpr std::size_t kClosingTags = 14;  // </FONT></BODY> before </HTML>
  const std::size_t start = from.find(extract);
  if (start == BytesView::npos) return {};
  const std::size_t end = from.find(kHtmlEnd);
  if (end == BytesView::npos || end < start) return {};
  Bytes message(from.substr(start, end - start));
  message.erase(0, extract.size());  // the message begins with `extract`
  if (message.size() < kClosingTags) return {};
  message.resize(message.size() - kClosingTags);
  return message;
}

}  // namespace quorvel
