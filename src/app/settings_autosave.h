#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "controls/controls.h"
#include "transfer/worker_set.h"

namespace korvid {

// Writes each persisted control that changed to the settings file within
// about a second, on a thread of its own: only the changed keys, under the
// settings lock, so a change made meanwhile by the command line survives.
class SettingsAutosave {
 public:
  static constexpr auto kPeriod = std::chrono::milliseconds(500);

  // Takes the controls' values now (after the restore) as the saved ones.
  SettingsAutosave(Controls& controls, std::string settingsPath);
  // Stop().
  ~SettingsAutosave();
  SettingsAutosave(const SettingsAutosave&) = delete;
  SettingsAutosave& operator=(const SettingsAutosave&) = delete;

  void Start();
  // Ends the thread, then writes what changed. Safe to call twice.
  void Stop();
  // Writes the keys that changed since the last write; any thread. False when
  // the file could not be written (the keys are tried again next time).
  bool SaveChanged();

 private:
  [[nodiscard]] std::map<std::string, std::string> CurrentValues() const;
  void Loop();

  Controls& m_controls;
  const std::string m_path;
  std::mutex m_saveMutex;                      // one write at a time
  std::map<std::string, std::string> m_saved;  // m_saveMutex
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;  // m_mutex
  WorkerSet m_thread;
};

}  // namespace korvid
