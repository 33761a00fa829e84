#include "media/winamp_player.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "media/title_parser.h"

namespace quorvel {

namespace {

constexpr char kWindowClass[] = "Winamp v1.x";
constexpr UINT kPlayerMessage = WM_USER;  // Winamp's own requests, chosen by lParam
constexpr LPARAM kAskPlayStatus = 104;    // 1 playing, 3 paused, 0 stopped
constexpr LPARAM kAskTime = 105;          // wParam 0: position in ms; 1: length in s
constexpr LRESULT kMaxTitleLength = 65535;

// One message, answered within the timeout, as the 32-bit integer the player gives; nothing when
// the window is gone or hung.
std::optional<std::int32_t> Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                unsigned timeoutMs) {
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeoutMs,
                          &answer) == 0) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(answer & 0xFFFFFFFFu));
}

std::optional<Bytes> ReadWindowText(HWND window, unsigned timeoutMs) {
  const auto length = Ask(window, WM_GETTEXTLENGTH, 0, 0, timeoutMs);
  if (!length) {
    return std::nullopt;
  }
  const auto size = static_cast<std::size_t>(std::clamp<LRESULT>(*length, 0, kMaxTitleLength));
  Bytes buffer(size + 1, '\0');
  const auto copied = Ask(window, WM_GETTEXT, static_cast<WPARAM>(buffer.size()),
                          reinterpret_cast<LPARAM>(buffer.data()), timeoutMs);
  if (!copied) {
    return std::nullopt;
  }
  buffer.resize(std::min(size, static_cast<std::size_t>(std::max<std::int32_t>(*copied, 0))));
  return buffer;
}

}  // namespace

Bytes AnsiToUtf8(BytesView text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(std::min<std::size_t>(text.size(), 1u << 24));
  const int wideSize = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (wideSize <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), wideSize);
  const int utf8Size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
  if (utf8Size <= 0) {
    return {};
  }
  Bytes utf8(static_cast<std::size_t>(utf8Size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, utf8.data(), utf8Size, nullptr, nullptr);
  return utf8;
}

PlayerSnapshot WinampPlayer::Query() {
  HWND window = FindWindowA(kWindowClass, nullptr);
  if (window == nullptr) {
    description_ = "Winamp: no player window";
    return {};
  }
  const auto title = ReadWindowText(window, timeoutMs_);
  const auto status = Ask(window, kPlayerMessage, 0, kAskPlayStatus, timeoutMs_);
  const auto elapsedMs = Ask(window, kPlayerMessage, 0, kAskTime, timeoutMs_);
  const auto totalSeconds = Ask(window, kPlayerMessage, 1, kAskTime, timeoutMs_);
  if (!title || !status || !elapsedMs || !totalSeconds) {
    description_ = "Winamp: the player window did not answer";
    return {};
  }
  PlayerSnapshot snapshot;
  snapshot.found = true;
  snapshot.track = ParseTitle(AnsiToUtf8(*title));
  snapshot.playStatus = *status;
  snapshot.elapsedMs = *elapsedMs;
  snapshot.totalSeconds = *totalSeconds;
  description_ = "Winamp";
  return snapshot;
}

}  // namespace quorvel
