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
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "app/settings.h"
#include "net/download.h"
#include "net/ranking.h"
#include "support/fake_window.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::LoopbackPeer;

std::string TinyproxyPath() {
  for (const char* p : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"}) {
    if (::access(p, X_OK) == 0) return p;
  }
  return std::string();
}

// tinyproxy on a free loopback port, forwarding every request to upstreamPort.
class Tinyproxy {
 public:
  Tinyproxy(const std::string& binary, int upstreamPort) {
    port_ = LoopbackPeer::ClosedPort();
    const std::string config = folder_.Join("tinyproxy.conf");
    std::ofstream(config) << "Port " << port_ << "\n"
                          << "Listen 127.0.0.1\n"
                          << "Timeout 10\n"
                          << "MaxClients 4\n"
                          << "LogLevel Error\n"
                          << "Allow 127.0.0.1\n"
                          << "Upstream http 127.0.0.1:" << upstreamPort << "\n";
    const std::string log = folder_.Join("tinyproxy.log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string b = binary, d = "-d", c = "-c", conf = config;
    char* argv[] = {b.data(), d.data(), c.data(), conf.data(), nullptr};
    if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  ~Tinyproxy() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

  // True once the proxy accepts connections (at most five seconds).
  bool Ready() {
    if (pid_ <= 0) return false;
    for (int i = 0; i < 50; ++i) {
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
  int port_ = 0;
  pid_t pid_ = -1;
};

class ThroughTinyproxy : public ::testing::Test {
 protected:
  void SetUp() override {
    binary_ = TinyproxyPath();
    if (binary_.empty()) GTEST_SKIP() << "tinyproxy is not installed";
    saved_ = g_settings;
    ResetSettings(g_settings);
    test::MakeFolder(users_.VendorPath());
    test::WriteAll(users_.VendorPath("qlanb.ee"), {'o', 'l', 'd'});
  }
  void TearDown() override {
    if (!binary_.empty()) g_settings = saved_;
  }

  std::string binary_;
  test::UserDataFixture users_;
  Settings saved_{};
};

TEST_F(ThroughTinyproxy, DownloadFlowStoresTheBodyAndTheProxySeesAnAbsoluteRequest) {
  const std::string body("high-score table bytes\r\n\0\x01\x02 end", 31);
  LoopbackPeer server;
  server.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body);
  server.Start();
  Tinyproxy proxy(binary_, server.port());
  ASSERT_TRUE(proxy.Ready());

  g_settings.flags |= kFlagUseProxy;
  std::strcpy(g_settings.proxyAddress, "127.0.0.1");
  g_settings.proxyPort = proxy.port();
  test::FakeWindow window;
  EXPECT_EQ(runDownload(window), 0);
  ASSERT_EQ(window.messages.size(), 2u);
  EXPECT_EQ(window.messages[1].text, "ダウンロードが完了しました。");
  const auto stored = test::ReadAll(users_.VendorPath("qlanb.ee"));
  EXPECT_EQ(std::string(stored.begin(), stored.end()), body);

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

TEST_F(ThroughTinyproxy, ServerErrorArrivesAsHttpError) {
  LoopbackPeer server;
  server.ReadRequest().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  server.Start();
  Tinyproxy proxy(binary_, server.port());
  ASSERT_TRUE(proxy.Ready());
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", proxy.port(), Timeouts{5000, 5000}),
            kHttpError);
  EXPECT_NE(std::string(downloadStatusLine()).find(" 404 "), std::string::npos)
      << downloadStatusLine();
  const auto stored = test::ReadAll(users_.VendorPath("qlanb.ee"));
  EXPECT_EQ(std::string(stored.begin(), stored.end()), "old");
}

TEST_F(ThroughTinyproxy, UnreachableServerBehindTheProxyIsAnHttpError) {
  // The proxy answers for the server it cannot reach with an error page of its own.
  Tinyproxy proxy(binary_, LoopbackPeer::ClosedPort());
  ASSERT_TRUE(proxy.Ready());
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", proxy.port(), Timeouts{5000, 5000}),
            kHttpError);
  EXPECT_EQ(std::string(downloadStatusLine()).rfind("HTTP/1.", 0), 0u) << downloadStatusLine();
  const auto stored = test::ReadAll(users_.VendorPath("qlanb.ee"));
  EXPECT_EQ(std::string(stored.begin(), stored.end()), "old");
}

}  // namespace
}  // namespace qlan
#endif
