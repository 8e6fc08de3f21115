#include "single_instance.h"

#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

namespace korvid {

namespace {

constexpr int kConnectWaitMs = 500;
constexpr int kWriteWaitMs = 500;
// A caller that never sends its line must not keep a socket open for ever.
constexpr int kMessageLimit = 64;

}  // namespace

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), m_serverName(std::move(serverName)) {
  m_server.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
}

SingleInstance::~SingleInstance() {
  Release();
}

QString SingleInstance::DefaultServerName() {
  QString name = QStringLiteral("Korvid-%1").arg(::getuid());
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return QDir(runtime).filePath(name);
  return name;
}

SingleInstance::Role SingleInstance::Claim() {
  if (AskRunningToRaise()) return Role::Secondary;
  // Nobody answered: whatever socket file is there is left from a crash.
  QLocalServer::removeServer(m_serverName);
  if (m_server.listen(m_serverName)) return Role::Primary;
  // Two starts at the same moment: the other one may have won the race.
  if (AskRunningToRaise()) return Role::Secondary;
  return Role::Alone;
}

void SingleInstance::Release() {
  if (m_server.isListening()) m_server.close();
}

bool SingleInstance::AskRunningToRaise() {
  QLocalSocket socket;
  socket.connectToServer(m_serverName);
  if (!socket.waitForConnected(kConnectWaitMs)) return false;
  socket.write(kRaiseMessage);
  const bool written = socket.waitForBytesWritten(kWriteWaitMs);
  socket.disconnectFromServer();
  return written || socket.bytesToWrite() == 0;
}

void SingleInstance::OnNewConnection() {
  while (QLocalSocket* socket = m_server.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadMessage(*socket); });
    // The caller writes and leaves at once: its line may be here already.
    ReadMessage(*socket);
  }
}

void SingleInstance::ReadMessage(QLocalSocket& socket) {
  if (socket.canReadLine()) {
    const QByteArray line = socket.readLine(kMessageLimit);
    socket.disconnectFromServer();
    if (line == kRaiseMessage) emit RaiseRequested();
  } else if (socket.bytesAvailable() > kMessageLimit) {
    socket.abort();
  }
}

}  // namespace korvid
