#include "wire/hex.h"

#include "wire/error.h"

namespace quorvel {
namespace {

int HexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char ParseHexByte(BytesView piece) {
  if (piece.empty()) {
    throw Error("empty piece in hex text");
  }
  int value = 0;
  for (char c : piece) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      throw Error("'" + std::string(piece) + "' is not a hexadecimal number");
    }
    value = value * 16 + digit;
    if (value > 255) {
      throw Error("'" + std::string(piece) + "' does not fit a byte");
    }
  }
  return static_cast<char>(value);
}

}  // namespace

Bytes HexToBytes(BytesView text) {
  Bytes out;
  std::size_t start = 0;
  while (true) {
    const std::size_t space = text.find(' ', start);
    out.push_back(ParseHexByte(text.substr(start, space - start)));
    if (space == BytesView::npos) {
      return out;
    }
    start = space + 1;
  }
}

}  // namespace quorvel
