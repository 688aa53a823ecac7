// Every text the tool shows in a message box, with the captions: the one place they are
// written (UTF-8). The dialog's own texts are in the resource template.
#pragma once

namespace qlan::text {

inline constexpr char kAppCaption[] = "Quillaneツール";
inline constexpr char kNoSettingsFolder[] =
    "設定ファイルを作成できません。\n設定を変更しても反映はされません。";
inline constexpr char kSettingsUnreadable[] =
    "設定ファイルを読み込めません。\n標準の設定を使用します。";
inline constexpr char kSaveFailed[] = "設定ファイルの保存に失敗しました。\n設定は元に戻ります。";

inline constexpr char kNoProxyAddress[] =
    "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。";
inline constexpr char kBadProxyPort[] =
    "プロキシのポート指定が不正です。\nポートは1から65535の間で指定してください。";

inline constexpr char kDownloadCaption[] = "ダウンロード";
inline constexpr char kDownloadQuestion[] =
    "インターネットに接続し最新のハイスコア記録を取得します。\n"
    "ダウンロードが成功すると、現在のデータは上書きされ消滅します。\nよろしいですか？";
inline constexpr char kDownloadDone[] = "ダウンロードが完了しました。";
inline constexpr char kServerNotFound[] = "サーバが見つかりません。";
inline constexpr char kProxyNotFound[] = "プロキシサーバが見つかりません。";
inline constexpr char kServerConnectFailed[] = "サーバへの接続に失敗しました。";
inline constexpr char kProxyConnectFailed[] = "プロキシサーバへの接続に失敗しました。";
inline constexpr char kBadResponse[] = "サーバが不正なレスポンスを返しました。";
inline constexpr char kNothingDownloaded[] = "何もダウンロードできませんでした。";
// Followed by the status line as received.
inline constexpr char kHttpErrorHead[] = "HTTPエラーです。\n";
inline constexpr char kHighScoreSaveFailed[] = "ハイスコアファイルの保存に失敗しました。";
inline constexpr char kBadProxy[] = "プロキシの指定が間違っています。";
inline constexpr char kRequestNotSent[] = "ダウンロードリクエストを送信できません。";
inline constexpr char kConnectionCut[] = "サーバが接続を遮断しました。";

inline constexpr char kEntryCaption[] = "エントリー";
inline constexpr char kEntryQuestion[] =
    "インターネットに接続し記録のエントリーを行います。\n走行記録がアップロードされ公開されます。\n"
    "よろしいですか？";
inline constexpr char kEntryTooLarge[] = "ファイルサイズが大きすぎてアップロードできません。";
inline constexpr char kEntryFailed[] = "エントリー中にエラーが起きました。";
inline constexpr char kEntryDone[] =
    "走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。OKボタンを押して"
    "から10秒程度お待ちください。";
// Followed by the reason, or by kBrowserErrorCode and the shell's code.
inline constexpr char kBrowserErrorHead[] = "ウェブブラウザを開く際にエラーが起きました。\n・ ";
inline constexpr char kBrowserErrorCode[] = "エラー ";

struct BrowserReason {
  int code;
  const char* text;
};
inline constexpr BrowserReason kBrowserReasons[] = {
    {0, "メモリ不足です。"},
    {2, "ファイルがみつかりません。"},
    {3, "パスがみつかりません。"},
    {5, "ファイルへのアクセスが拒否されました。"},
    {8, "メモリ不足です。"},
    {11, "exeファイルが異常です。"},
    {26, "アクセス共有違反です。"},
    {27, "標準ブラウザの設定がないか、不完全です。"},
    {28, "DDE通信が時間切れで失敗しました。"},
    {29, "DDE通信に失敗しました。"},
    {30, "DDE通信がビジー状態です。"},
    {31, "標準のブラウザが設定されていません。"},
    {32, "必要なDLLファイルがみつかりません。"},
};

inline constexpr char kEraseCaption[] = "記録の消去";
inline constexpr char kEraseFirstQuestion[] =
    "この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？";
inline constexpr char kEraseSecondQuestion[] =
    "いちど消去すると元に戻すことはできません。\n本当によろしいですか？";
inline constexpr char kEraseDone[] = "消去が完了しました。";
inline constexpr char kEraseFailed[] =
    "消去中にエラーが発生しました。\n一部の記録が残った可能性があります。";

}  // namespace qlan::text
