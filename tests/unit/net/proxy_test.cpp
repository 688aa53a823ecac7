// The download through a real HTTP proxy that we did not write: tinyproxy, started on
// loopback with our own peer as its upstream, so the absolute-form request is parsed and
// forwarded by someone else's code. Skipped where tinyproxy is not installed.
#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "net/ranking.h"
#include "net_test_support.h"
#include "support/fake_window.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"
#include "ui/online_flow.h"

namespace qlan {
namespace {

using test::LoopbackPeer;

// tinyproxy on a free loopback port, forwarding every request to upstreamPort; stopped
// (and, if it lingers, killed) at the end.
class Tinyproxy {
 public:
  Tinyproxy(const char* binary, int upstreamPort) : port_(LoopbackPeer::ClosedPort()) {
    std::string config = folder_.Join("tinyproxy.conf");
    std::ofstream(config) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 10\nMaxClients 4\n"
                          << "LogLevel Error\nAllow 127.0.0.1\nUpstream http 127.0.0.1:"
                          << upstreamPort << "\n";
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, 1, 2);
    std::string b = binary, d = "-d", c = "-c";
    char* argv[] = {b.data(), d.data(), c.data(), config.data(), nullptr};
    if (posix_spawn(&pid_, binary, &quiet, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&quiet);
  }
  ~Tinyproxy() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; ::waitpid(pid_, nullptr, WNOHANG) != pid_; ++i) {
      if (i == 100) ::kill(pid_, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // True once the proxy accepts connections (at most five seconds).
  bool Ready() {
    for (int i = 0; pid_ > 0 && i < 50; ++i) {
      const LoopbackPeer::Socket s = test::peer_io::ConnectTo(port_, 100);
      if (s != LoopbackPeer::kNone) {
        test::peer_io::Close(s);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  int port() const { return port_; }

 private:
  test::TempFolder folder_;
  int port_;
  pid_t pid_ = -1;
};

TEST(ThroughTinyproxy, DownloadFlowStoresTheBodyAndTheProxySeesAnAbsoluteRequest) {
  const char* binary = ::access("/usr/bin/tinyproxy", X_OK) == 0    ? "/usr/bin/tinyproxy"
                       : ::access("/usr/sbin/tinyproxy", X_OK) == 0 ? "/usr/sbin/tinyproxy"
                                                                    : nullptr;
  if (binary == nullptr) GTEST_SKIP() << "tinyproxy is not installed";
  test::SettingsGuard settings;
  test::UserDataFixture users;
  test::MakeFolder(users.VendorPath());
  const std::string body("high-score table bytes\r\n\0\x01\x02 end", 31);
  LoopbackPeer server;
  server.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 31\r\n\r\n" + body);
  server.Start();
  Tinyproxy proxy(binary, server.port());
  ASSERT_TRUE(proxy.Ready());

  test::UseProxy("127.0.0.1", proxy.port());
  test::FakeWindow window;
  EXPECT_EQ(runDownload(window), 0);
  ASSERT_EQ(window.messages.size(), 2u);
  EXPECT_EQ(window.messages[1].text, "ダウンロードが完了しました。");
  EXPECT_EQ(test::S(test::ReadAll(users.VendorPath("qlanb.ee"))), body);

  // What tinyproxy made of our request: it understood the host and the path of the
  // absolute URI and kept our Host and User-Agent lines.
  ASSERT_TRUE(server.Wait(5000));
  const std::string forwarded = server.Request();
  EXPECT_EQ(forwarded.rfind(std::string("GET http://") + RankingHost, 0), 0u) << forwarded;
  EXPECT_NE(forwarded.find("/sw/qlan/score.dat HTTP/1."), std::string::npos) << forwarded;
  EXPECT_NE(forwarded.find(std::string("\r\nHost: ") + RankingHost + "\r\n"), std::string::npos)
      << forwarded;
  EXPECT_NE(forwarded.find("\r\nUser-Agent: QuillaneTool/050702\r\n"), std::string::npos)
      << forwarded;
}

}  // namespace
}  // namespace qlan
#endif
