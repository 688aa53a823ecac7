// Where the ranking server is, and how the tool names itself to it.
#pragma once
#include <string>
#include <string_view>

namespace qlan {

// Set when building (QLAN_RANKING_HOST); the one place the host name lives.
extern const char* const RankingHost;
extern const char* const UserAgent;
inline constexpr int kRankingPort = 80;

inline constexpr char kScorePath[] = "/sw/qlan/score.dat";
inline constexpr char kEntryPostPath[] = "/sw/qlan/hsentry/0/";
inline constexpr char kEntryPagePath[] = "/sw/qlan/hsentry/1/";
// The names both sides use: the entry page's query field, the form field that carries the
// replay, and the start of the reply line that names the new entry.
inline constexpr char kEntryIdField[] = "UNIQUE_ID";
inline constexpr char kReplayField[] = "frep";
inline constexpr char kEntryIdMarker[] = "**ID:";

// The entry page of an identifier: "http://" + RankingHost + kEntryPagePath + "?" +
// kEntryIdField + "=" + the identifier, each byte outside A-Z a-z 0-9 - . _ ~ written as %XX.
std::string EntryPageUrl(std::string_view identifier);

}  // namespace qlan
