// The download and entry flows.
#include "ui/online_flow.h"

#include "app/text.h"
#include "net/download.h"
#include "net/ranking.h"
#include "records/record_list.h"
#include "ui/messages.h"
#include "ui/resource.h"

namespace qlan {
namespace {

// Above this the shell's result means the browser was started.
constexpr int kShellSuccessAbove = 32;

}  // namespace

bool CheckProxySettings(WindowSystem& window, std::string_view caption, ProxyChoice* choice) {
  switch (ChooseProxy(choice)) {
    case ProxyCheck::kNoAddress:
      window.ShowMessage(text::kNoProxyAddress, caption, kMbIconHand);
      return false;
    case ProxyCheck::kBadPort:
      window.ShowMessage(text::kBadProxyPort, caption, kMbIconHand);
      return false;
    case ProxyCheck::kUsable:
      break;
  }
  return true;
}

std::string DownloadErrorMessage(int result, bool throughProxy, const char* statusLine) {
  switch (result) {
    case kNameNotFound:
      return throughProxy ? text::kProxyNotFound : text::kServerNotFound;
    case kConnectFailed:
      return throughProxy ? text::kProxyConnectFailed : text::kServerConnectFailed;
    case kBadResponse:
      return text::kBadResponse;
    case kNothingReceived:
      return text::kNothingDownloaded;
    case kHttpError: {
      const char* line = statusLine != nullptr ? statusLine : "";
      return text::kHttpErrorHead +
             ShowableText(std::string_view(line, BoundedLength(line, kLineBufferSize)));
    }
    case kHighScoreFileFailed:
      return text::kHighScoreSaveFailed;
    case kBadProxy:
      return text::kBadProxy;
    case kSendFailed:
      return text::kRequestNotSent;
    case kConnectionCut:
      return text::kConnectionCut;
    default:
      return std::string();
  }
}

int runDownload(WindowSystem& window, DownloadFunction download) {
  ProxyChoice choice;
  if (!CheckProxySettings(window, text::kDownloadCaption, &choice)) return -1;
  if (window.ShowMessage(text::kDownloadQuestion, text::kDownloadCaption,
                         kMbOkCancel | kMbIconExclamation | kMbSetForeground) == kIdCancel) {
    return 0;
  }
  int result = 0;
  {
    WaitCursor wait(window);
    result = download(UserAgent, choice.proxyAddress, choice.proxyPort, Timeouts{});
  }
  const std::string error =
      DownloadErrorMessage(result, choice.proxyAddress != nullptr, downloadStatusLine());
  if (!error.empty()) {
    window.ShowMessage(error, text::kDownloadCaption, kMbIconHand);
    return -1;
  }
  window.ShowMessage(text::kDownloadDone, text::kDownloadCaption, kMbIconInformation);
  return 0;
}

void showBrowserError(WindowSystem& window, int code) {
  if (code > kShellSuccessAbove) return;
  std::string message = text::kBrowserErrorHead;
  const char* reason = nullptr;
  for (const text::BrowserReason& r : text::kBrowserReasons) {
    if (r.code == code) reason = r.text;
  }
  if (reason != nullptr) {
    message += reason;
  } else {
    message += text::kBrowserErrorCode;
    message += std::to_string(code);
  }
  window.ShowMessage(message, text::kEntryCaption, kMbOk | kMbIconHand);
}

void ShowEntryPage(WindowSystem& window, const char* identifier) {
  // The browser starts only after the user has closed this box.
  window.ShowMessage(text::kEntryDone, text::kEntryCaption,
                     kMbOk | kMbIconInformation | kMbSetForeground);
  showBrowserError(window, window.OpenUrl(EntryPageUrl(identifier)));
}

EntryResult runEntry(WindowSystem& window, int route) {
  ProxyChoice choice;
  if (!CheckProxySettings(window, text::kEntryCaption, &choice)) return {};
  WaitCursor wait(window);
  return uploadRecord(route, UserAgent, choice.proxyAddress, choice.proxyPort);
}

void RunEntrySequence(WindowSystem& window) {
  if (g_recordList.count <= 0) return;
  // A line that is not a record (nothing selected) uploads nothing.
  const int k = window.GetListSelection(IDC_RECORD_LIST);
  if (k < 0 || k >= g_recordList.count || k >= kRouteCount) return;
  if (window.ShowMessage(text::kEntryQuestion, text::kEntryCaption,
                         kMbOkCancel | kMbIconInformation | kMbSetForeground) != kIdOk) {
    return;
  }
  const EntryResult result = runEntry(window, kFirstRoute + g_recordList.entries[k].routeIndex);
  switch (result.kind) {
    case EntryKind::kTooLarge:
      window.ShowMessage(text::kEntryTooLarge, text::kEntryCaption, kMbOk | kMbIconHand);
      break;
    case EntryKind::kFailed:
      window.ShowMessage(text::kEntryFailed, text::kEntryCaption, kMbOk | kMbIconHand);
      break;
    case EntryKind::kUploaded:
      ShowEntryPage(window, result.id);
      break;
  }
}

}  // namespace qlan
