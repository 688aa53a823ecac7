// The server against the tool's own network code: the tool uploads a replay through its
// proxy path (the server accepts proxy-form requests), downloads the table, finds its
// entry there and fetches the entry page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "app/text.h"
#include "net/download.h"
#include "net/entry_flow.h"
#include "net/ranking.h"
#include "net/upload.h"
#include "records/replay.h"
#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using test::BodyOf;
using test::Exchange;
using test::StatusOf;

class ToolRoundTrip : public ::testing::Test {
 protected:
  void CopyReplay(const char* name, const char* as) {
    test::WriteAll(user_.ReplayPath(as), [&] {
      const std::string bytes = test::ReadFileBytes(test::TestDataPath(name));
      return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }());
  }

  test::UserDataFixture user_;
  test::TempFolder folder_;
  std::string db_ = folder_.Join("ranking.db");
};

TEST_F(ToolRoundTrip, UploadDownloadAndEntryPageThroughTheProxyPath) {
  test::RunningServer server(db_);
  ASSERT_TRUE(server.ok());
  char folder[kPathSize];
  ASSERT_EQ(GetReplayFolder(folder, sizeof folder), 0);
  CopyReplay("replays/good/r710.replay", "r710.replay");

  const EntryResult result = uploadRecord(710, UserAgent, "127.0.0.1", server.port());
  ASSERT_NE(result, nullptr);
  ASSERT_NE(result, kEntryTooLarge);
  const std::string id = result;
  EXPECT_EQ(id.size(), 16u) << id;

  ASSERT_EQ(downloadHighScores(UserAgent, "127.0.0.1", server.port()), 0) << downloadStatusLine();
  const std::string file = test::ReadFileBytes(user_.VendorPath("qlanb.ee"));
  ASSERT_EQ(file.size(), 10888u);
  const std::vector<unsigned char> table = test::UnscrambleHighScoreFile(file);
  ASSERT_EQ(table.size(), 10884u);
  const std::size_t block = 4;  // route 710
  EXPECT_EQ(test::WordAt(table, block), 1u);
  EXPECT_EQ(test::WordAt(table, block + 4), 45678u);
  EXPECT_EQ(test::WordAt(table, block + 8), 7384u);
  EXPECT_EQ(std::string(table.begin() + block + 16, table.begin() + block + 32), id);

  // The address the tool opens in the browser, asked for as a proxy would pass it on.
  const std::string page =
      Exchange(server.port(), "GET " + EntryPageUrl(id) + " HTTP/1.1\r\nHost: " + RankingHost +
                                  "\r\nConnection: close\r\n\r\n");
  ASSERT_EQ(StatusOf(page), 200) << page;
  EXPECT_NE(BodyOf(page).find("<td>45,678m</td>"), std::string::npos);
  EXPECT_NE(BodyOf(page).find("<td>2&#39;03.06</td>"), std::string::npos);
  EXPECT_NE(BodyOf(page).find("<td>1位 / 1件中</td>"), std::string::npos);

  server.Stop();
  // One line per request; connections end in their own order, so lines may too.
  const std::vector<std::string> lines = server.LogLines();
  ASSERT_EQ(lines.size(), 3u);
  auto logged = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(logged("\"POST /sw/qlan/hsentry/0/\" proxy-form 200 "));
  EXPECT_TRUE(logged("\"GET /sw/qlan/score.dat\" proxy-form 200 10888 "));
  EXPECT_TRUE(logged("\"GET /sw/qlan/hsentry/1/?UNIQUE_ID=" + id + "\" proxy-form 200 "));
}

TEST_F(ToolRoundTrip, EmptyRankingDownloadsTheToolsOwnEmptyTable) {
  test::RunningServer server(db_);
  ASSERT_TRUE(server.ok());
  ASSERT_EQ(downloadHighScores(UserAgent, "127.0.0.1", server.port()), 0) << downloadStatusLine();
  EXPECT_EQ(test::ReadFileBytes(user_.VendorPath("qlanb.ee")),
            test::ReadFileBytes(test::TestDataPath("highscore/empty-table.ee")));
}

TEST_F(ToolRoundTrip, InvalidReplayIsRefusedAndNothingIsStored) {
  test::RunningServer server(db_);
  ASSERT_TRUE(server.ok());
  char folder[kPathSize];
  ASSERT_EQ(GetReplayFolder(folder, sizeof folder), 0);
  CopyReplay("replays/bad/bad-checksum-r710.replay", "r710.replay");
  EXPECT_EQ(uploadRecord(710, UserAgent, "127.0.0.1", server.port()), nullptr);
  std::vector<RouteStanding> routes;
  ASSERT_EQ(server.store().Standings(&routes), StoreResult::kOk);
  for (const RouteStanding& r : routes) EXPECT_EQ(r.count, 0u);
}

TEST_F(ToolRoundTrip, LargestReplayTheToolSendsIsStored) {
  // 3,097,332 bytes is the largest file whose text stays within the tool's limit.
  const std::size_t size = 3097332;
  std::vector<std::uint8_t> replay(size, 0);
  std::memcpy(replay.data(), "QLNR", 4);
  const std::uint32_t payload = static_cast<std::uint32_t>(size - kReplayHeaderSize);
  for (std::size_t i = kReplayHeaderSize; i < size; ++i) replay[i] = static_cast<std::uint8_t>(i * 7);
  const std::uint32_t checksum = ReplayChecksum(749, 0, replay.data() + kReplayHeaderSize, payload);
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) replay[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
  };
  put(4, 99);       // time
  put(8, 1234567);  // distance
  put(12, 749);     // route
  put(56, checksum);
  put(60, payload);
  char folder[kPathSize];
  ASSERT_EQ(GetReplayFolder(folder, sizeof folder), 0);
  test::WriteAll(user_.ReplayPath("r749.replay"), replay);

  test::RunningServer server(db_);
  ASSERT_TRUE(server.ok());
  const EntryResult result = uploadRecord(749, UserAgent, "127.0.0.1", server.port());
  ASSERT_NE(result, nullptr);
  ASSERT_NE(result, kEntryTooLarge);
  std::string stored;
  ASSERT_EQ(server.store().Replay(result, &stored), StoreResult::kOk);
  EXPECT_EQ(stored.size(), size);
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), replay.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
}

}  // namespace
}  // namespace qlan::server
