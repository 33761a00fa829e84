#pragma once
// Starting the window front end: whether a display is there, which application object the run
// needs, and tying the window's closing sequence to every way the program can end.

#include <QCoreApplication>
#include <cstdint>
#include <memory>
#include <optional>

namespace quorvel {

class MainWindow;
class MediaPlayer;
class PlayerChangeUpdates;
class PrefsStore;
class SingleInstance;
class TerminationSignals;

// True when a window can be shown: an X11 or Wayland display, or a Qt platform chosen explicitly
// (QT_QPA_PLATFORM). Always true outside Linux and the BSDs.
bool DisplayAvailable();

// True unless the arguments ask for something else than the window (--headless, --now-playing,
// --list-players, --help or --version).
bool WindowRequested(int argc, const char* const argv[]);

// A QApplication when the arguments ask for the window and a display is there; a
// QCoreApplication otherwise.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char* argv[]);

// The line printed when the window is asked for and there is no display.
inline constexpr const char* kNoDisplayMessage =
    "quorvel: no display found; run \"quorvel --headless\" to use the proxy without a window";

// The program ends when the window shuts down; the window's closing sequence (settings saved,
// icon removed, listener stopped) runs when the desktop session ends, when the application quits
// by any other way, and on SIGINT or SIGTERM, so that settings are never lost.
void ConnectLifecycle(MainWindow& window, TerminationSignals& terminations);

// Lets `window` follow `player` as long as the result lives: the updates run at once on a new
// track, and the player box and the status follow the player and players coming and going.
std::unique_ptr<PlayerChangeUpdates> FollowPlayer(MainWindow& window, MediaPlayer& player);

// The window front end: the relay with the traffic monitor as its host, composing with the
// window's settings, the settings of `store` and `player`; `port` (--port) is listened on for
// this run instead of the stored one. `instance`, claimed for the settings file, brings the window
// forward when the program is started again. Runs until the window closes, the session ends, or
// SIGINT or SIGTERM; returns the exit status: 1 when the settings could not be saved. Without a
// QApplication (no display) it prints kNoDisplayMessage and returns 1.
int RunWindow(PrefsStore& store, MediaPlayer& player, SingleInstance& instance,
              std::optional<std::uint16_t> port = std::nullopt);

}  // namespace quorvel
