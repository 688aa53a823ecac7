// The entry button's sequence and the browser launch after a successful upload.
#include "net/entry_flow.h"

#include "app/text.h"
#include "net/ranking.h"
#include "net/upload.h"
#include "records/record_list.h"
#include "ui/resource.h"
#include "ui/window_system.h"

namespace qlan {
namespace {

constexpr char kEntryQuestion[] =
    "インターネットに接続し記録のエントリーを行います。\n走行記録がアップロードされ公開されます。\n"
    "よろしいですか？";
constexpr char kEntryTooLargeText[] = "ファイルサイズが大きすぎてアップロードできません。";
constexpr char kEntryFailedText[] = "エントリー中にエラーが起きました。";
constexpr char kEntryDoneText[] =
    "走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。OKボタンを押して"
    "から10秒程度お待ちください。";
constexpr char kBrowserErrorHead[] = "ウェブブラウザを開く際にエラーが起きました。\n・ ";
constexpr char kUniqueIdQuery[] = "?UNIQUE_ID=";

const char* BrowserErrorReason(int code) noexcept {
  switch (code) {
    case 0:
    case 8:
      return "メモリ不足です。";
    case 2:
      return "ファイルがみつかりません。";
    case 3:
      return "パスがみつかりません。";
    case 5:
      return "ファイルへのアクセスが拒否されました。";
    case 11:
      return "exeファイルが異常です。";
    case 26:
      return "アクセス共有違反です。";
    case 27:
      return "標準ブラウザの設定がないか、不完全です。";
    case 28:
      return "DDE通信が時間切れで失敗しました。";
    case 29:
      return "DDE通信に失敗しました。";
    case 30:
      return "DDE通信がビジー状態です。";
    case 31:
      return "標準のブラウザが設定されていません。";
    case 32:
      return "必要なDLLファイルがみつかりません。";
    default:
      return nullptr;
  }
}

bool IsUnreserved(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string EntryPageUrl(std::string_view identifier) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "http://";
  url += RankingHost;
  url += kEntryPagePath;
  url += kUniqueIdQuery;
  for (const char ch : identifier) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      url += ch;
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15u];
    }
  }
  return url;
}

void showBrowserError(WindowSystem& window, int code) {
  if (code > 32) return;
  const char* reason = BrowserErrorReason(code);
  std::string text = kBrowserErrorHead;
  if (reason != nullptr) {
    text += reason;
  } else {
    text += "エラー ";
    text += std::to_string(code);
  }
  window.ShowMessage(text, kEntryCaption, kMbOk | kMbIconHand);
}

void ShowEntryPage(WindowSystem& window, const char* identifier) {
  // The browser starts only after the user has closed this box.
  window.ShowMessage(kEntryDoneText, kEntryCaption, kMbOk | kMbIconInformation | kMbSetForeground);
  showBrowserError(window, window.OpenUrl(EntryPageUrl(identifier)));
}

void RunEntrySequence(WindowSystem& window) {
  if (g_recordList.count <= 0) return;
  // A line that is not a record (nothing selected) uploads nothing.
  const int k = window.GetListSelection(IDC_RECORD_LIST);
  if (k < 0 || k >= g_recordList.count || k >= kRouteCount) return;
  if (window.ShowMessage(kEntryQuestion, kEntryCaption,
                         kMbOkCancel | kMbIconInformation | kMbSetForeground) != kIdOk) {
    return;
  }
  const EntryResult result = runEntry(window, kFirstRoute + g_recordList.entries[k].routeIndex);
  if (result == kEntryTooLarge) {
    window.ShowMessage(kEntryTooLargeText, kEntryCaption, kMbOk | kMbIconHand);
  } else if (result == nullptr) {
    window.ShowMessage(kEntryFailedText, kEntryCaption, kMbOk | kMbIconHand);
  } else {
    ShowEntryPage(window, result);
  }
}

}  // namespace qlan
