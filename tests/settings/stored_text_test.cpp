#include "settings/stored_text.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(StoredText, Utf8IsReadAsSuchAndEverythingElseAsWindows1252) {
  EXPECT_EQ(TextForEditing("Caf\xC3\xA9"), QString::fromUtf8("Caf\u00E9"));
  EXPECT_EQ(TextForEditing("Caf\xE9"), QString::fromUtf8("Caf\u00E9"));
  // The code page's own characters in 0x80..0x9F, and the five bytes it leaves undefined.
  EXPECT_EQ(TextForEditing("\x80\x85\x93\x94\x9F\x81\x9D\xFF"),
            QString::fromUtf8("\u20AC\u2026\u201C\u201D\u0178\u0081\u009D\u00FF"));
  EXPECT_EQ(TextForEditing(Bytes("a\0b", 3)), QString(QStringLiteral("a") + QChar(0) + "b"));
}

TEST(StoredText, UnchangedTextKeepsItsBytesAndAnEditIsUtf8) {
  EXPECT_EQ(BytesForStoring(QString::fromUtf8("Caf\u00E9"), "Caf\xE9"), "Caf\xE9");
  EXPECT_EQ(BytesForStoring(QString::fromUtf8("Caf\u00E9s"), "Caf\xE9"), "Caf\xC3\xA9s");
  EXPECT_EQ(BytesForStoring(QStringLiteral("x"), ""), "x");
  // A truncated UTF-8 sequence is not UTF-8: it reads, and stays, as Windows-1252.
  EXPECT_EQ(BytesForStoring(TextForEditing("ab\xC3"), "ab\xC3"), "ab\xC3");
}

}  // namespace
}  // namespace quorvel
