#!/usr/bin/env bash
# Compiles and links the Windows-only media player backend, with the pieces of the media code it
# uses, with the MinGW-w64 cross compiler, so that it keeps building while development happens on
# Linux. Nothing is run.
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=${QUORVEL_MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
if ! command -v "$cxx" >/dev/null; then
  echo "check-windows: $cxx not found (Debian package g++-mingw-w64-x86-64-posix)" >&2
  exit 1
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# A console program that reads the player once, so that the link is checked too.
cat >"$out/probe.cpp" <<'CPP'
#include <cstdio>

#include "media/player_factory.h"

int main() {
  auto player = quorvel::MakeMediaPlayer("");
  const quorvel::PlayerSnapshot snapshot = player->Query();
  std::printf("%s: %s\n", player->Describe().c_str(), snapshot.found ? "found" : "not found");
  return snapshot.found ? 0 : 1;
}
CPP

"$cxx" -std=c++20 -O1 -Isrc \
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor \
  -Wold-style-cast -Woverloaded-virtual -Werror \
  src/media/winamp_player.cpp src/media/player_factory.cpp src/media/title_parser.cpp \
  src/media/utf8_text.cpp "$out/probe.cpp" \
  -luser32 -o "$out/winamp_probe.exe"
echo "check-windows: the Winamp backend compiles and links for Windows"
