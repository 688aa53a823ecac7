// The server against the tool's own network code: the tool downloads the empty table,
// uploads replays through its proxy path (the server accepts proxy-form requests), finds
// its entry in the table and the entry page at the address it would open.
#include <gtest/gtest.h>

#include <cstring>

#include "app/text.h"
#include "net/download.h"
#include "net/ranking.h"
#include "net/upload.h"
#include "records/replay.h"
#include "server/score_table.h"
#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

class ToolRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeFolder(user_.ReplayPath());
    ASSERT_TRUE(server_.ok());
  }
  void PlaceReplay(const char* known, const char* as) {
    test::WriteAll(user_.ReplayPath(as), test::ReadAll(test::TestDataPath(known)));
  }
  EntryResult Upload(int route) {
    return uploadRecord(route, UserAgent, "127.0.0.1", server_.port());
  }

  test::UserDataFixture user_;
  test::TempFolder folder_;
  test::RunningServer server_{folder_.Join("ranking.db")};
};

TEST_F(ToolRoundTrip, DownloadUploadAndEntryPageThroughTheProxyPath) {
  ASSERT_EQ(downloadHighScores(UserAgent, "127.0.0.1", server_.port()), 0) << downloadStatusLine();
  EXPECT_EQ(test::ReadFileBytes(user_.VendorPath("qlanb.ee")),
            test::KnownFile("highscore/empty-table.ee"));
  PlaceReplay("replays/bad/bad-checksum-r710.replay", "r711.replay");
  EXPECT_EQ(Upload(711), nullptr);
  EXPECT_EQ(test::StoredCount(server_.store()), 0u);

  PlaceReplay("replays/good/r710.replay", "r710.replay");
  const EntryResult result = Upload(710);
  ASSERT_NE(result, nullptr);
  ASSERT_NE(result, kEntryTooLarge);
  const std::string id = result;
  EXPECT_EQ(id.size(), 16u) << id;

  ASSERT_EQ(downloadHighScores(UserAgent, "127.0.0.1", server_.port()), 0) << downloadStatusLine();
  // The file is the table the server builds from its standings, and route 710 has the entry.
  std::vector<RouteStanding> routes;
  ASSERT_EQ(server_.store().Standings(&routes), StoreResult::kOk);
  const std::vector<unsigned char> built = BuildHighScoreFile(routes);
  EXPECT_EQ(test::ReadFileBytes(user_.VendorPath("qlanb.ee")),
            std::string(built.begin(), built.end()));
  ASSERT_EQ(routes[0].best.size(), 1u);
  EXPECT_EQ(std::tuple(routes[0].count, routes[0].best[0].id, routes[0].best[0].distance,
                       routes[0].best[0].timeTicks),
            std::tuple(1u, id, 45678u, 7384u));

  // The address the tool opens in the browser, asked for as a proxy would pass it on.
  const std::string page = test::Exchange(server_.port(), "GET " + EntryPageUrl(id) +
                                                              " HTTP/1.1\r\nHost: " + RankingHost +
                                                              "\r\nConnection: close\r\n\r\n");
  ASSERT_EQ(test::StatusOf(page), 200) << page;
  for (const char* text : {"<td>45,678m</td>", "<td>2&#39;03.06</td>", "<td>1位 / 1件中</td>"}) {
    EXPECT_NE(test::BodyOf(page).find(text), std::string::npos) << text;
  }
}

TEST_F(ToolRoundTrip, LargestReplayTheToolSendsIsStored) {
  // 3,097,332 bytes is the largest file whose text stays within the tool's limit.
  std::vector<std::uint8_t> replay(3097332, 0);
  const auto payload = static_cast<std::uint32_t>(replay.size() - kReplayHeaderSize);
  for (std::size_t i = kReplayHeaderSize; i < replay.size(); ++i) {
    replay[i] = static_cast<std::uint8_t>(i * 7);
  }
  const std::uint32_t checksum = ReplayChecksum(749, 0, replay.data() + kReplayHeaderSize, payload);
  std::memcpy(replay.data(), "QLNR", 4);
  for (const auto& [at, value] : {std::pair{12u, 749u}, {56u, checksum}, {60u, payload}}) {
    for (unsigned k = 0; k < 4; ++k)
      replay[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
  }
  test::WriteAll(user_.ReplayPath("r749.replay"), replay);
  const EntryResult result = Upload(749);
  ASSERT_NE(result, nullptr);
  ASSERT_NE(result, kEntryTooLarge);
  std::string stored;
  ASSERT_EQ(server_.store().Replay(result, &stored), StoreResult::kOk);
  EXPECT_TRUE(stored == std::string(replay.begin(), replay.end()));
}

}  // namespace
}  // namespace qlan::server
