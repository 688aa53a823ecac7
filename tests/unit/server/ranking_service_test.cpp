// Entries through the service: the form's fields, validation, storage, ranks, the entry's
// page and the admission limits; over HTTP only for the limits.
#include "server/ranking_service.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <set>

#include "server/entry_id.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using test::BodyOf;
using test::EntryRequest;
using test::Exchange;
using test::kDownload;
using test::StatusOf;

constexpr char kToolType[] = "multipart/form-data; boundary=------AaXx00";

std::string FormFor(const char* known) { return test::ReplayForm(test::KnownFile(known)); }

class RankingServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(store_.Open(folder_.Join("ranking.db"), false, &error)) << error;
  }

  test::TempFolder folder_;
  EntryStore store_;
  RankingService service_{store_};
};

// Entries that waited together: one transaction, the same run twice one entry, and an entry
// the database refuses leaves the others stored.
TEST_F(RankingServiceTest, StoresABatchTogetherOneEntryPerRunAndARefusalApart) {
  std::vector<NewEntry> batch(4);
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const char* route[] = {"710", "745", "710", "712"};
    const std::string form =
        FormFor(("replays/good/r" + std::string(route[i]) + ".replay").c_str());
    ASSERT_EQ(service_.ReadEntry(kToolType, form, 5, {}, &batch[i]), Outcome::kOk);
  }
  batch[3].entry.route = 9;  // no route of the table: the database refuses it
  const std::vector<Reply> replies = service_.StoreEntries(batch);
  EXPECT_EQ(test::EntryIdIn(replies[0].body), test::EntryIdIn(replies[2].body));
  EXPECT_NE(test::EntryIdIn(replies[0].body), test::EntryIdIn(replies[1].body));
  EXPECT_EQ(HttpStatus(replies[3].outcome), 503);
  EXPECT_EQ(test::StoredCount(store_), 2u);
}

TEST_F(RankingServiceTest, StoresTheToolsFormRanksItByTimeWithinTheRouteAndShowsItsPage) {
  const std::string replay = test::KnownFile("replays/good/r745.replay");
  const std::string slower = test::RunOf(replay, 1, test::WordAt(replay, 4) + 1);  // a tick more
  StoredEntry second;
  StoredEntry stored;
  ASSERT_EQ(service_.AddReplay(slower, 1, &second), Outcome::kOk);
  ASSERT_EQ(service_.AddReplay(test::KnownFile("replays/good/r710.replay"), 2, &stored),
            Outcome::kOk);
  const Reply reply = service_.PostEntry(kToolType, test::ReplayForm(replay), 1700000000);
  ASSERT_EQ(reply.outcome, Outcome::kOk) << reply.body;
  const std::string id = test::EntryIdIn(reply.body);
  ASSERT_TRUE(IsEntryIdShape(id) && id != second.id) << reply.body;
  EXPECT_NE(service_.EntryPage(second.id).body.find("<td>2位 / 2件中</td>"), std::string::npos);
  // The same run again, with or without bytes after it: the stored entry, its date unchanged.
  for (const std::size_t extra : {0u, 1u, 2u, 300u}) {
    ASSERT_EQ(service_.AddReplay(replay + std::string(extra, 'x'), 9, &stored), Outcome::kOk);
    EXPECT_EQ(std::tuple(stored.id, stored.created), std::tuple(id, std::int64_t{1700000000}));
  }
  // A preamble before the first delimiter is passed over.
  const Reply again = service_.PostEntry(kToolType, "preamble\n" + test::ReplayForm(replay), 5);
  EXPECT_EQ(test::EntryIdIn(again.body), id);
  EXPECT_EQ(test::StoredCount(store_), 3u);

  const Reply page = service_.EntryPage(id);
  ASSERT_EQ(page.outcome, Outcome::kOk);
  // 1700000000 is 2023-11-14 22:13:20 UTC, 2023-11-15 07:13 in Japan.
  for (const char* text :
       {"<meta charset=\"utf-8\">", "<td>R 745</td>", "<td>3,456km</td>", "<td>1:23&#39;20</td>",
        "<td>2023-11-15 07:13 (JST)</td>", "<td>1位 / 2件中</td>"}) {
    EXPECT_NE(page.body.find(text), std::string::npos) << text;
  }
  for (const std::string& bad : {std::string("' OR 1=1 --xxxxx"), std::string(17, 'A')}) {
    EXPECT_EQ(HttpStatus(service_.EntryPage(bad).outcome), 404) << bad;
  }
  EXPECT_NE(service_.EntryPage("").body.find("<title>エラー 404</title>"), std::string::npos);
}

TEST_F(RankingServiceTest, RefusesBadFormsAndReplaysAndStoresNothing) {
  const std::string good = test::Base64Lines(test::KnownFile("replays/good/r710.replay"));
  const std::string part = "--------AaXx00\nContent-Disposition: form-data; name=";
  const std::string end = "\n--------AaXx00--";
  std::vector<std::tuple<std::string, std::string, Outcome>> cases = {
      {kToolType, part + "\"other\"\n\n" + good + end, Outcome::kNoReplay},
      {kToolType, part + "\"frep\"\n\n" + good + "\n" + part + "\"frep\"\n\n" + good + end,
       Outcome::kRepeatedReplay},
      {kToolType, part + "\"frep\"\n\n" + end, Outcome::kInvalidReplay},
      {kToolType, FormFor("replays/bad/bad-checksum-r710.replay"), Outcome::kInvalidReplay},
      {kToolType, FormFor("replays/bad/huge-length-r710.replay"), Outcome::kInvalidReplay},
      {kToolType, std::string(kMaxEntryBody + 1, 'x'), Outcome::kBodyTooLarge},
      {kToolType, part + "\"frep\"\n\nQUJD!!!!" + end, Outcome::kBadBase64},
      // A text that decodes to more than the longest replay.
      {kToolType, part + "\"frep\"\n\n" + std::string(kMaxEntryTextLength + 4, 'A') + end,
       Outcome::kBadBase64}};
  cases.emplace_back("text/plain", FormFor("replays/good/r710.replay"), Outcome::kBadForm);
  for (const auto& [type, body, outcome] : cases) {
    const Reply reply = service_.PostEntry(type, body, 5);
    EXPECT_EQ(reply.outcome, outcome) << type << "\n" << body.substr(0, 200);
    EXPECT_EQ(HttpStatus(reply.outcome), outcome == Outcome::kInvalidReplay  ? 422
                                         : outcome == Outcome::kBodyTooLarge ? 413
                                                                             : 400);
    EXPECT_EQ(reply.body.find("**ID:"), std::string::npos);
  }
  StoredEntry none;
  EXPECT_EQ(HttpStatus(service_.AddReplay(std::string(kMaxReplayBytes + 1, 'x'), 5, &none)), 413);
  EXPECT_EQ(test::StoredCount(store_), 0u);
}

// One run posted with each reserved header word changed is one entry.
TEST_F(RankingServiceTest, IsOneEntryWhateverItsReservedHeaderWordsSay) {
  std::string run = test::KnownFile("replays/good/r710.replay");
  std::set<std::string> ids;
  for (std::size_t i = 0; i < 16; ++i) {
    run[4 + 4 * (5 + i % 7) + 3] = static_cast<char>(i + 1);  // words 5 to 11
    ids.insert(test::EntryIdIn(service_.PostEntry(kToolType, test::ReplayForm(run), 5).body));
  }
  EXPECT_EQ(ids.size(), 1u);
  EXPECT_EQ(ids.count(""), 0u);
}

// Two entries a day from an address: a repost of one is not a third, a third is refused
// before its body with the time it may come, and the count holds at the insert too.
TEST(RankingServiceLimits, AnAddressStoresItsDaysEntriesThenWaits) {
  test::TempFolder folder;
  test::RunningServer server(folder.Join("ranking.db"), {}, {2});
  const auto post = [&](std::uint32_t time) { return Exchange(server.port(), EntryRequest(time)); };
  const std::string id = test::EntryIdIn(BodyOf(post(1)));
  EXPECT_EQ(test::EntryIdIn(BodyOf(post(1))), id);
  EXPECT_EQ(StatusOf(post(2)), 200);
  const std::string refused = post(3);
  EXPECT_EQ(StatusOf(refused), 429);
  EXPECT_NE(refused.find("\r\nRetry-After: 864"), std::string::npos) << refused;
  EXPECT_NE(refused.find("(JST) から受け付けます。"), std::string::npos) << refused;
  RankingService direct(server.store(), {2});
  StoredEntry entry;
  EXPECT_EQ(direct.AddReplay(test::RunOf(test::KnownFile("replays/good/r712.replay"), 4),
                             NowSeconds(), &entry, "127.0.0.1"),
            Outcome::kTooManyEntries);
  EXPECT_EQ(test::StoredCount(server.store()), 2u);
}

// On a nearly full file system entries get 507 and one log line; pages are served.
TEST(RankingServiceLimits, EntriesWaitForFreeSpaceAndPagesGoOn) {
  test::TempFolder folder;
  const std::string disk = folder.Join("small");
  if (geteuid() != 0 || mkdir(disk.c_str(), 0700) != 0 ||
      mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=8m") != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  const std::unique_ptr<const char, void (*)(const char*)> unmount(
      disk.c_str(), [](const char* path) { umount2(path, MNT_DETACH); });
  std::mutex mutex;
  std::vector<std::string> lines;
  const auto log = [&](std::string_view line) {
    const std::lock_guard<std::mutex> lock(mutex);
    lines.emplace_back(line);
  };
  test::RunningServer server(disk + "/ranking.db", {}, {0, 16 << 20, disk, log});
  for (const std::uint32_t time : {1u, 2u})
    EXPECT_EQ(StatusOf(Exchange(server.port(), EntryRequest(time))), 507);
  EXPECT_EQ(StatusOf(Exchange(server.port(), kDownload)), 200);
  EXPECT_EQ(StatusOf(Exchange(server.port(), "GET /sw/qlan/ HTTP/1.0\n\n")), 200);
  server.Stop();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("below the floor of 16 MB"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace qlan::server
