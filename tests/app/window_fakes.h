#pragma once
// Test doubles for what the window drives: a relay that records what it is told, a monitor with
// a settable active slot, and a settings file held in memory. All write to one journal, so that
// tests can check the order of the steps.

#include <QSystemTrayIcon>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/preferences.h"
#include "app/window_services.h"
#include "proxy/proxy_host.h"

namespace quorvel::testing {

using Journal = std::vector<std::string>;

class RecordingProxy : public ProxyControl {
 public:
  explicit RecordingProxy(Journal& journal) : journal_(journal) {}
  void StartListen(std::uint16_t port) override {
    journal_.push_back("StartListen " + std::to_string(port));
  }
  void StopListen() override { journal_.push_back("StopListen"); }
  bool Connection(SlotIndex index) const override { return connected.count(index) > 0; }
  void SendSock(int, SlotIndex, BytesView) override {}
  void AIMToServer(SlotIndex, Bytes&) override {}
  void ServerToAIM(SlotIndex, Bytes&) override {}

  std::set<SlotIndex> connected;  // slots whose client socket is connected

 private:
  Journal& journal_;
};

// Has the public members the window uses of the traffic monitor; reached through MonitorPortFor.
class MonitorDouble {
 public:
  explicit MonitorDouble(Journal& journal) : journal_(journal) {}
  void ResetForStartUp() { journal_.push_back("ResetForStartUp"); }
  SlotIndex ActiveSlot() const { return activeSlot; }
  void CheckTimer() { ++ticks; }
  void SetTitleListener(std::function<void(const std::string&)> listener) {
    titleListener = std::move(listener);
  }

  SlotIndex activeSlot = 0;
  int ticks = 0;
  std::function<void(const std::string&)> titleListener;

 private:
  Journal& journal_;
};

class MemorySettings : public SettingsFile {
 public:
  explicit MemorySettings(Journal& journal) : journal_(journal) {}

  std::optional<Preferences> Load() override {
    journal_.push_back("Load");
    return file;
  }
  void Save(const Preferences& prefs) override {
    journal_.push_back(tray == nullptr     ? "Save"
                       : tray->isVisible() ? "Save (tray shown)"
                                           : "Save (no tray)");
    saved = prefs;
  }

  std::optional<Preferences> file;  // nothing: there is no settings file
  std::optional<Preferences> saved;
  const QSystemTrayIcon* tray = nullptr;  // noted at each save when set

 private:
  Journal& journal_;
};

}  // namespace quorvel::testing
