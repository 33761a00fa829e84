#pragma once
// What the window's status lines and the tray icon's tooltip say: whether the proxy listens
// (where, or why not and what to do), how many clients it holds, the screen name, and what the
// media player is playing. Plain text from plain facts, so that every wording is tested apart.

#include <cstdint>
#include <string>

namespace quorvel {

struct ListenerFacts {
  std::string address;   // the address it listens on, or was to listen on
  std::uint16_t port{};  // the port it listens on, or was to listen on
  bool listening = false;
  bool portForThisRun = false;  // the port came from --port
  std::string failure;          // why the last start failed; empty when it did not
  int clients = 0;
  std::string screenName;  // UTF-8; empty before the client signs on
};

struct PlayerFacts {
  bool found = false;       // a player answered
  std::string description;  // the backend's description of what it found (or why not)
  std::string artist;       // UTF-8
  std::string song;         // UTF-8
  int playStatus = -1;      // kPlay* of media_player.h
};

struct StatusLines {
  std::string listener;   // the proxy, its clients and the screen name
  std::string player;     // what is playing
  bool alarming = false;  // not listening, or listening beyond this machine
};

StatusLines DescribeStatus(const ListenerFacts& listener, const PlayerFacts& player);

// The same in two short lines, for the tray icon.
std::string TrayToolTip(const ListenerFacts& listener, const PlayerFacts& player);

}  // namespace quorvel
