#include "media/token_free_text.h"

#include <cstdint>
#include <vector>

#include "media/utf8_text.h"

namespace quorvel {
namespace {

char AsciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAsciiLetterOrDigit(char c) noexcept {
  return (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z');
}

// The length of the line break that starts at `pos`, or 0 when none does.
std::size_t LineBreakAt(BytesView text, std::size_t pos) noexcept {
  const char c = text[pos];
  if (c == '\r') return pos + 1 < text.size() && text[pos + 1] == '\n' ? 2 : 1;
  if (c == '\n') return 1;
  if (c != '<' || text.size() - pos < 4) return 0;
  if (AsciiLower(text[pos + 1]) != 'b' || AsciiLower(text[pos + 2]) != 'r') return 0;
  std::size_t at = pos + 3;
  while (at < text.size() && text[at] == ' ') ++at;
  if (at < text.size() && text[at] == '/') ++at;
  return at < text.size() && text[at] == '>' ? at + 1 - pos : 0;
}

struct Line {
  BytesView text;
  BytesView lineBreak;  // the break that ends it; empty for the last line
};

std::vector<Line> SplitLines(BytesView text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = LineBreakAt(text, pos);
    if (length == 0) {
      ++pos;
      continue;
    }
    lines.push_back(Line{text.substr(start, pos - start), text.substr(pos, length)});
    pos += length;
    start = pos;
  }
  lines.push_back(Line{text.substr(start), {}});
  return lines;
}

// Takes a token off the end of the output as soon as it stands there whole, so the output never
// holds one: not even one that forms where another was taken out.
Bytes RemoveTokens(BytesView text, std::span<const Bytes> tokens) {
  Bytes out;
  out.reserve(text.size());
  for (const char c : text) {
    out += c;
    for (const Bytes& token : tokens) {
      if (!token.empty() && out.ends_with(token)) {
        out.resize(out.size() - token.size());
        break;
      }
    }
  }
  return out;
}

// Where the tag that starts at `pos` ('<') ends, one past its '>'; npos when no '>' follows.
std::size_t TagEnd(BytesView text, std::size_t pos) noexcept {
  const std::size_t close = text.find('>', pos);
  return close == BytesView::npos ? BytesView::npos : close + 1;
}

Bytes TagsOf(BytesView text) {
  Bytes tags;
  for (std::size_t pos = text.find('<'); pos != BytesView::npos; pos = text.find('<', pos)) {
    const std::size_t end = TagEnd(text, pos);
    if (end == BytesView::npos) break;
    tags.append(text.substr(pos, end - pos));
    pos = end;
  }
  return tags;
}

std::uint32_t CodePoint(BytesView text, std::size_t pos, std::size_t length) noexcept {
  static constexpr std::uint8_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  std::uint32_t code = ByteAt(text, pos) & kLeadBits[length];
  for (std::size_t i = 1; i < length; ++i) code = (code << 6) | (ByteAt(text, pos + i) & 0x3F);
  return code;
}

// Characters beyond ASCII that are neither letters nor digits, by block: Latin-1 punctuation and
// the multiplication and division signs, combining marks, general punctuation through the
// miscellaneous symbols and arrows, CJK punctuation, variation selectors, and emoji.
bool IsSymbol(std::uint32_t code) noexcept {
  return (code >= 0x80 && code <= 0xBF) || code == 0xD7 || code == 0xF7 ||
         (code >= 0x300 && code <= 0x36F) || (code >= 0x2000 && code <= 0x2BFF) ||
         (code >= 0x3000 && code <= 0x303F) || (code >= 0xFE00 && code <= 0xFE0F) ||
         code == 0xFEFF || (code >= 0x1F000 && code <= 0x1FAFF);
}

}  // namespace

bool HasLetterOrDigitOutsideTags(BytesView text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (text[pos] == '<') {
      const std::size_t end = TagEnd(text, pos);
      if (end != BytesView::npos) {
        pos = end;
        continue;
      }
    }
    const std::size_t length = CharLengthAt(text, pos);
    if (ByteAt(text, pos) < 0x80) {
      if (IsAsciiLetterOrDigit(text[pos])) return true;
    } else if (length == 1 || !IsSymbol(CodePoint(text, pos, length))) {
      return true;  // a letter, or a byte that is no character: kept, as it may be one
    }
    pos += length;
  }
  return false;
}

Bytes TokenFreeText(BytesView text, std::span<const Bytes> tokens) {
  Bytes out;
  out.reserve(text.size());
  bool anyKept = false;
  BytesView breakAfterKept;  // written only when another kept line follows
  for (const Line& line : SplitLines(text)) {
    const Bytes freed = RemoveTokens(line.text, tokens);
    if (freed.size() != line.text.size() && !HasLetterOrDigitOutsideTags(freed)) {
      out += TagsOf(freed);
      continue;
    }
    if (anyKept) out += breakAfterKept;
    out += freed;
    anyKept = true;
    breakAfterKept = line.lineBreak;
  }
  // A token split by a line break, or joined across a removed line, goes too.
  return RemoveTokens(out, tokens);
}

}  // namespace quorvel
