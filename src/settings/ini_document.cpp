#include "settings/ini_document.h"

namespace quorvel {
namespace {

constexpr BytesView kBlanks = " \t";
constexpr BytesView kUtf8Bom = "\xEF\xBB\xBF";

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(kBlanks) == BytesView::npos;
}

// True when `value` is enclosed in a pair of matching quotes, which reading drops.
bool IsQuoted(std::string_view value) {
  return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
         value.back() == value.front();
}

// The value as it stands between '=' and the end of its line: reading drops blanks around a value
// and one pair of enclosing quotes, so a value that has either is written between double quotes.
Bytes StoredValue(std::string_view value) {
  if (TrimBlanks(value) != value || IsQuoted(value)) return "\"" + Bytes(value) + "\"";
  return Bytes(value);
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

IniDocument IniDocument::Parse(BytesView text) {
  IniDocument doc;
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    doc.bomLength_ = kUtf8Bom.size();
  }
  bool endingFound = false;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    Line line;
    if (newline == BytesView::npos) {
      line.text = Bytes(text.substr(start));
      start = text.size();
    } else {
      std::size_t end = newline;
      if (end > start && text[end - 1] == '\r') {
        --end;
      }
      line.text = Bytes(text.substr(start, end - start));
      line.eol = Bytes(text.substr(end, newline + 1 - end));
      start = newline + 1;
      if (!endingFound) {
        doc.eol_ = line.eol;
        endingFound = true;
      }
    }
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

Bytes IniDocument::Serialize() const {
  std::size_t size = 0;
  for (const Line& line : lines_) {
    size += line.text.size() + line.eol.size();
  }
  Bytes out;
  out.reserve(size);
  for (const Line& line : lines_) {
    out += line.text;
    out += line.eol;
  }
  return out;
}

IniDocument::Parsed IniDocument::Classify(std::size_t index) const {
  std::string_view text = lines_[index].text;
  if (index == 0) {
    text.remove_prefix(bomLength_);
  }
  Parsed parsed;
  const std::string_view trimmed = TrimBlanks(text);
  if (!trimmed.empty() && trimmed.front() == '[') {
    const std::size_t close = trimmed.find(']');
    if (close != std::string_view::npos) {
      parsed.kind = Kind::kSection;
      parsed.name = TrimBlanks(trimmed.substr(1, close - 1));
      return parsed;
    }
  }
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    return parsed;
  }
  const std::string_view key = TrimBlanks(text.substr(0, equals));
  if (key.empty()) {
    return parsed;
  }
  parsed.kind = Kind::kKey;
  parsed.name = key;
  parsed.valuePos = equals + 1 + (index == 0 ? bomLength_ : 0);
  return parsed;
}

std::size_t IniDocument::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Parsed parsed = Classify(i);
    if (parsed.kind == Kind::kSection && EqualsIgnoringCase(parsed.name, section)) {
      return i;
    }
  }
  return lines_.size();
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && Classify(i).kind != Kind::kSection) {
    ++i;
  }
  return i;
}

std::string_view IniDocument::ValueOn(std::size_t index, const Parsed& parsed) const {
  const std::string_view value =
      TrimBlanks(std::string_view(lines_[index].text).substr(parsed.valuePos));
  return IsQuoted(value) ? value.substr(1, value.size() - 2) : value;
}

std::optional<Bytes> IniDocument::Get(std::string_view section, std::string_view key) const {
  const std::size_t header = FindSection(section);
  if (header == lines_.size()) {
    return std::nullopt;
  }
  const std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    const Parsed parsed = Classify(i);
    if (parsed.kind == Kind::kKey && EqualsIgnoringCase(parsed.name, key)) {
      return Bytes(ValueOn(i, parsed));
    }
  }
  return std::nullopt;
}

void IniDocument::Terminate(std::size_t index) {
  Line& line = lines_[index];
  if (!line.eol.empty()) {
    return;
  }
  line.eol = eol_;
  // A CR that ended the file now stands before the LF: it reads back as part of a CR LF ending.
  if (eol_ == "\n" && !line.text.empty() && line.text.back() == '\r' &&
      line.text.size() > (index == 0 ? bomLength_ : 0)) {
    line.text.pop_back();
    line.eol = "\r\n";
  }
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() || TrimBlanks(section) != section || HasLineBreak(section) ||
      section.find(']') != std::string_view::npos) {
    return false;
  }
  if (key.empty() || TrimBlanks(key) != key || HasLineBreak(key) ||
      key.find('=') != std::string_view::npos || key.front() == '[') {
    return false;
  }
  if (HasLineBreak(value)) {
    return false;
  }

  const std::size_t header = FindSection(section);
  if (header == lines_.size()) {
    if (!lines_.empty()) {
      Terminate(lines_.size() - 1);
    }
    lines_.push_back(Line{"[" + Bytes(section) + "]", eol_});
    lines_.push_back(Line{Bytes(key) + "=" + StoredValue(value), eol_});
    return true;
  }

  const std::size_t end = SectionEnd(header);
  std::size_t lastFilled = header;
  for (std::size_t i = header + 1; i < end; ++i) {
    const Parsed parsed = Classify(i);
    if (parsed.kind == Kind::kKey && EqualsIgnoringCase(parsed.name, key)) {
      if (ValueOn(i, parsed) != value) {
        lines_[i].text.replace(parsed.valuePos, Bytes::npos, StoredValue(value));
      }
      return true;
    }
    if (!IsBlank(lines_[i].text)) {
      lastFilled = i;
    }
  }
  Terminate(lastFilled);
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1),
                Line{Bytes(key) + "=" + StoredValue(value), eol_});
  return true;
}

}  // namespace quorvel
