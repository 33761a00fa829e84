#include "media/text_case.h"

#include <QString>

#include "media/format_settings.h"
#include "media/utf8_text.h"

namespace quorvel {

namespace {

enum class Change { kUpper, kLower };

Bytes Convert(BytesView text, Change change) {
  const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QByteArray encoded =
      (change == Change::kUpper ? decoded.toUpper() : decoded.toLower()).toUtf8();
  return Bytes(encoded.constData(), static_cast<std::size_t>(encoded.size()));
}

// Changes the case of the well-formed runs of `text` and keeps every malformed byte as it is.
Bytes ConvertKeepingMalformed(BytesView text, Change change) {
  Bytes out;
  out.reserve(text.size());
  std::size_t runStart = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = CharLengthAt(text, pos);
    const auto byte = ByteAt(text, pos);
    if (length == 1 && byte >= 0x80) {  // a malformed byte
      out += Convert(text.substr(runStart, pos - runStart), change);
      out += text[pos];
      runStart = pos + 1;
    }
    pos += length;
  }
  out += Convert(text.substr(runStart), change);
  return out;
}

bool IsWordSeparator(char c) {
  return c == '\0' || (c >= '\t' && c <= '\r') || c == ' ';
}

Bytes FirstCap(BytesView text) {
  Bytes out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (IsWordSeparator(text[pos])) {
      out += text[pos++];
      continue;
    }
    std::size_t end = pos;
    while (end < text.size() && !IsWordSeparator(text[end])) {
      ++end;
    }
    const BytesView word = text.substr(pos, end - pos);
    const std::size_t first = CharLengthAt(word, 0);
    out += ConvertKeepingMalformed(word.substr(0, first), Change::kUpper);
    out += ConvertKeepingMalformed(word.substr(first), Change::kLower);
    pos = end;
  }
  return out;
}

}  // namespace

Bytes ApplyCase(BytesView value, int mode) {
  switch (mode) {
    case kCaseNone:
      return Bytes(value);
    case kCaseUpper:
      return ConvertKeepingMalformed(value, Change::kUpper);
    case kCaseFirstCap:
      return FirstCap(value);
    default:
      return ConvertKeepingMalformed(value, Change::kLower);
  }
}

}  // namespace quorvel
