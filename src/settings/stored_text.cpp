#include "settings/stored_text.h"

#include <QStringDecoder>
#include <array>

namespace quorvel {
namespace {

// Windows-1252 differs from ISO-8859-1 in 0x80..0x9F only. The five bytes it leaves undefined
// keep their ISO-8859-1 meaning (C1 controls), so every byte reads as some character.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

QString FromWindows1252(BytesView bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text.append(QChar(byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80]
                                                  : static_cast<char16_t>(byte)));
  }
  return text;
}

}  // namespace

QString TextForEditing(BytesView stored) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text =
      utf8.decode(QByteArrayView(stored.data(), static_cast<qsizetype>(stored.size())));
  if (!utf8.hasError()) return text;
  return FromWindows1252(stored);
}

Bytes BytesForStoring(const QString& edited, BytesView stored) {
  if (TextForEditing(stored) == edited) return Bytes(stored);
  return edited.toStdString();
}

}  // namespace quorvel
