#include "single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <cstring>

#include "ui_test_support.h"

namespace korvid {
namespace {

using test::SpinUntil;

TEST(SingleInstanceTest, SecondStartRaisesTheFirst) {
  test::SocketFolder sockets;
  SingleInstance first(sockets.SocketPath());
  int raises = 0;
  QObject::connect(&first, &SingleInstance::RaiseRequested, [&] { ++raises; });
  ASSERT_EQ(first.Claim(), SingleInstance::Role::Primary);

  SingleInstance second(sockets.SocketPath());
  EXPECT_EQ(second.Claim(), SingleInstance::Role::Secondary);
  EXPECT_TRUE(SpinUntil([&] { return raises == 1; }));

  SingleInstance third(sockets.SocketPath());
  EXPECT_EQ(third.Claim(), SingleInstance::Role::Secondary);
  EXPECT_TRUE(SpinUntil([&] { return raises == 2; }));
}

TEST(SingleInstanceTest, ASocketLeftByACrashIsTakenOver) {
  test::SocketFolder sockets;
  const std::string path = sockets.SocketPath().toStdString();
  // A bound socket file with nobody listening, as a killed instance leaves it.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);
  ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(path)));

  SingleInstance instance(sockets.SocketPath());
  EXPECT_EQ(instance.Claim(), SingleInstance::Role::Primary);
  SingleInstance second(sockets.SocketPath());
  EXPECT_EQ(second.Claim(), SingleInstance::Role::Secondary);
}

TEST(SingleInstanceTest, ReleaseLetsTheNextStartBePrimary) {
  test::SocketFolder sockets;
  SingleInstance first(sockets.SocketPath());
  ASSERT_EQ(first.Claim(), SingleInstance::Role::Primary);
  first.Release();
  SingleInstance next(sockets.SocketPath());
  EXPECT_EQ(next.Claim(), SingleInstance::Role::Primary);
}

TEST(SingleInstanceTest, OtherMessagesDoNotRaise) {
  test::SocketFolder sockets;
  SingleInstance first(sockets.SocketPath());
  int raises = 0;
  QObject::connect(&first, &SingleInstance::RaiseRequested, [&] { ++raises; });
  ASSERT_EQ(first.Claim(), SingleInstance::Role::Primary);
  QLocalSocket stranger;
  stranger.connectToServer(sockets.SocketPath());
  ASSERT_TRUE(stranger.waitForConnected(1000));
  stranger.write("delete everything\n");
  ASSERT_TRUE(stranger.waitForBytesWritten(1000));
  EXPECT_TRUE(SpinUntil([&] { return stranger.state() == QLocalSocket::UnconnectedState; }));
  EXPECT_EQ(raises, 0);
}

TEST(SingleInstanceTest, DefaultNameIsPerUser) {
  const QString name = SingleInstance::DefaultServerName();
  EXPECT_TRUE(name.endsWith(QStringLiteral("Korvid-%1").arg(::getuid())));
}

}  // namespace
}  // namespace korvid
