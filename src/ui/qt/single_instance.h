#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QString>

namespace korvid {

// One running window per user. The first process listens on a local socket;
// a later one connects, sends "raise" and ends, and the first brings its
// window forward. Window thread only.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Role {
    Primary,    // no other instance: this one listens now
    Secondary,  // another instance runs and has been asked to raise its window
    Alone,      // the socket could not be set up: run without the guard
  };

  static constexpr const char* kRaiseMessage = "raise\n";

  explicit SingleInstance(QString serverName, QObject* parent = nullptr);
  ~SingleInstance() override;

  // "Korvid-" + the user id, inside the user's runtime folder when there is
  // one (so other users can neither see nor take it).
  static QString DefaultServerName();

  // Asks a running instance to raise its window, or becomes the one that
  // listens. A socket left behind by a crashed instance is removed. Waits at
  // most a second, before any window exists.
  [[nodiscard]] Role Claim();

  // Stops listening (at exit), so a new start does not find a dead socket.
  void Release();

 signals:
  // Another start asked this instance to show its window.
  void RaiseRequested();

 private:
  bool AskRunningToRaise();
  void OnNewConnection();
  void ReadMessage(QLocalSocket& socket);

  QString m_serverName;
  QLocalServer m_server;
};

}  // namespace korvid
