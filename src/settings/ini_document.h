#pragma once
// An ini file held in memory as its lines, so that it can be read, changed and written back with
// every line the program does not own kept byte for byte.
//
// Reading: a line whose first non-blank character is '[' and that holds a ']' opens a section
// (its name is the text between, blanks dropped); a line holding '=' is a key (the text before the
// first '=', blanks dropped) with its value (the rest, blanks and one pair of enclosing single or
// double quotes dropped). Every other line (comments, blank lines, junk) is kept and ignored.
// Section and key names are matched without regard to ASCII case. When a section name occurs more
// than once only the first such section is used, and within it the first line of a key.
//
// Writing: a key's value is replaced on the line where it stands (the key as spelled in the file
// and its '=' are kept), unless it already reads as the new value, which leaves the line as it is;
// a value that reading would change (blanks around it, or a pair of enclosing quotes) is written
// between double quotes, which reading drops again; a new key goes after the last non-blank line
// of its section; a new
// section goes at the end of the file. Lines keep their own line endings; added lines use the
// ending of the file's first line (CR LF for a file that has none yet). A UTF-8 byte order mark
// at the start of the file is kept and not taken as part of the first line.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wire/bytes.h"

namespace quorvel {

class IniDocument {
 public:
  IniDocument() = default;  // an empty file

  static IniDocument Parse(BytesView text);
  // The file's bytes: for a parsed document that nothing changed, exactly the parsed text.
  Bytes Serialize() const;

  // The value of `key` in `section`, or nothing when the section or the key is missing.
  std::optional<Bytes> Get(std::string_view section, std::string_view key) const;

  // Sets `key` in `section` to `value`, creating the section and the key as needed. Returns false
  // and changes nothing when the names or the value cannot be stored on one line and read back:
  // an empty name, a name with blanks around it, a line break anywhere, an '=' in the key or a key
  // starting with '[', a ']' in the section name.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Line {
    Bytes text;  // without its line ending
    Bytes eol;   // "\r\n", "\n", or empty for a last line that has none
  };
  enum class Kind { kOther, kSection, kKey };
  struct Parsed {
    Kind kind = Kind::kOther;
    std::string_view name;     // section name or key, blanks dropped
    std::size_t valuePos = 0;  // keys: where the raw value starts in the line's text
  };

  Parsed Classify(std::size_t index) const;
  // The value of the key line at `index`, as reading gives it.
  std::string_view ValueOn(std::size_t index, const Parsed& parsed) const;
  // The index of the first section header named `section`, or lines_.size().
  std::size_t FindSection(std::string_view section) const;
  // One past the last line of the section whose header is at `header`.
  std::size_t SectionEnd(std::size_t header) const;
  void Terminate(std::size_t index);

  std::vector<Line> lines_;
  Bytes eol_ = "\r\n";
  std::size_t bomLength_ = 0;  // bytes of a byte order mark at the start of the first line
};

// ASCII case-insensitive equality, as section and key names are compared.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace quorvel
