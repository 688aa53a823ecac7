// The dialog template of qlantool.exe: the resource as written (styles a real Windows keeps)
// and the dialog Windows builds from it (positions in dialog units, tab order, centring).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

enum Kind { kDefault, kPush, kCheck, kRadio, kGroupBox, kLabel, kRightLabel, kList, kEdit };

const struct Row {
  int id;
  Kind kind;
  const wchar_t* text;
  RECT du;  // x, y, width, height; the list's height is its open list
  bool tab, group;
} kTemplate[] = {
    // clang-format off
    {IDOK, kDefault, L"OK", {188, 173, 50, 14}, true, false},
    {IDCANCEL, kPush, L"キャンセル", {252, 173, 50, 14}, true, false},
    {IDC_DOWNLOAD, kPush, L"インターネットからダウンロード...", {61, 22, 101, 14}, true, false},
    {IDC_AUTO_DOWNLOAD, kCheck, L"ゲーム起動時に自動ダウンロード", {61, 41, 104, 10}, true, false},
    {IDC_RECORD_LIST, kList, L"", {60, 60, 102, 84}, true, false},
    {IDC_ENTRY, kPush, L"↑の記録でエントリー", {61, 76, 99, 14}, true, false},
    {IDC_USE_PROXY, kCheck, L"ランキングの処理にプロキシサーバを使う", {18, 110, 142, 10}, true, false},
    {IDE_PROXY_ADDRESS, kEdit, L"", {54, 128, 105, 14}, true, false},
    {IDE_PROXY_PORT, kEdit, L"", {54, 146, 48, 14}, true, false},
    {IDC_FULL_SCREEN, kRadio, L"フルスクリーン", {190, 31, 72, 10}, true, true},
    {IDC_WINDOW_320, kRadio, L"ウインドウ (320x240)", {190, 43, 81, 10}, false, false},
    {IDC_WINDOW_640, kRadio, L"ウインドウ (640x480, ぼやける場合あり)", {190, 55, 121, 10}, false, false},
    {IDC_REPLAY_BETTER, kRadio, L"よりよい記録が出たとき", {190, 85, 88, 10}, true, true},
    {IDC_REPLAY_EVERY_RUN, kRadio, L"毎回", {190, 97, 32, 10}, true, false},
    // The group bit ends the replay buttons' group, so the arrow keys stay inside it.
    {IDC_ERASE, kPush, L"全ての記録を消去", {191, 110, 83, 14}, true, true},
    {IDC_SWAP_BUTTONS, kCheck, L"ボタン1とボタン2を入れ換える", {190, 144, 95, 10}, true, false},
    {IDC_STATIC, kGroupBox, L"ランキング", {7, 7, 164, 183}, false, false},
    {IDC_STATIC, kRightLabel, L"ダウンロード：", {13, 25, 42, 8}, false, true},
    {IDC_STATIC, kGroupBox, L"ゲーム設定", {175, 7, 140, 154}, false, false},
    {IDC_STATIC, kLabel, L"画面モード：", {181, 19, 48, 8}, false, true},
    {IDC_STATIC, kLabel, L"リプレイの保存：", {181, 73, 50, 8}, false, true},
    {IDC_STATIC, kRightLabel, L"エントリー：", {21, 62, 34, 8}, false, true},
    {IDC_STATIC, kGroupBox, L"プロキシ", {12, 98, 154, 84}, false, false},
    {IDC_STATIC, kRightLabel, L"アドレス：", {18, 130, 30, 8}, false, true},
    {IDC_STATIC, kRightLabel, L"ポート：", {18, 148, 30, 8}, false, true},
    {IDC_STATIC, kLabel, L"ウェブブラウザと同様にプロキシを指定してください", {24, 167, 135, 8}, false, true},
    {IDC_STATIC, kLabel, L"コントローラ：", {181, 132, 56, 8}, false, true},
    // clang-format on
};

// The class (its name in any letter case) and the style bits that make each kind.
void ExpectKind(Kind kind, std::wstring cls, DWORD style, bool asWritten) {
  CharUpperW(cls.data());
  const DWORD button[] = {BS_DEFPUSHBUTTON, BS_PUSHBUTTON, BS_AUTOCHECKBOX, BS_AUTORADIOBUTTON,
                          BS_GROUPBOX};
  if (kind <= kGroupBox) {
    EXPECT_EQ(cls, L"BUTTON");
    EXPECT_EQ(style & BS_TYPEMASK, button[kind]);
  } else if (kind <= kRightLabel) {
    EXPECT_EQ(cls, L"STATIC");
    EXPECT_EQ(style & SS_TYPEMASK, kind == kLabel ? DWORD{SS_LEFT} : DWORD{SS_RIGHT});
  } else if (kind == kList) {
    EXPECT_EQ(cls, L"COMBOBOX");
    EXPECT_EQ(style & 3u, DWORD{CBS_DROPDOWNLIST});
    EXPECT_TRUE(!asWritten || (style & WS_VSCROLL));  // Wine moves it to the list
  } else {
    EXPECT_EQ(cls, L"EDIT");
    EXPECT_EQ(style & (ES_AUTOHSCROLL | ES_MULTILINE), DWORD{ES_AUTOHSCROLL});
    EXPECT_TRUE(!asWritten || (style & WS_BORDER));  // Wine makes it a client edge
  }
}

// Reads a DLGTEMPLATEEX: one 16-bit unit at a time, names or ordinals, items on 4 bytes.
struct TemplateReader {
  const BYTE* p;
  template <typename T>
  T Take() {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
  }
  std::wstring Name() {
    const WORD first = Take<WORD>();
    if (first == 0xFFFF) {
      const WORD ordinal = Take<WORD>();
      const wchar_t* classes[] = {L"Button",  L"Edit",      L"Static",
                                  L"ListBox", L"ScrollBar", L"ComboBox"};
      return ordinal >= 0x80 && ordinal <= 0x85 ? classes[ordinal - 0x80] : L"?";
    }
    std::wstring s;
    for (WORD c = first; c != 0; c = Take<WORD>()) s.push_back(static_cast<wchar_t>(c));
    return s;
  }
  void Align() { p += (4 - reinterpret_cast<std::uintptr_t>(p) % 4) % 4; }
};

INT_PTR CALLBACK Passive(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(TemplateE2e, ControlsAndDialogAreAsDesigned) {
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> exe(
      LoadLibraryExW(ToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &FreeLibrary);
  ASSERT_NE(exe, nullptr);
  HRSRC found = FindResourceW(exe.get(), MAKEINTRESOURCEW(IDD_CONFIG), MAKEINTRESOURCEW(5));
  ASSERT_NE(found, nullptr);
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(exe.get(), found)));

  TemplateReader r{bytes};
  ASSERT_EQ(r.Take<DWORD>(), 0xFFFF0001u) << "DIALOGEX";
  r.Take<DWORD>();  // help id
  r.Take<DWORD>();  // extended style
  const DWORD style = r.Take<DWORD>();
  const WORD count = r.Take<WORD>();
  r.p += 4 * sizeof(short);  // x, y; the size is checked on the built dialog
  r.Name();
  r.Name();
  EXPECT_EQ(r.Name(), L"Quillaneツール for Quillane v.2b");
  EXPECT_EQ(r.Take<WORD>(), 9);    // points
  EXPECT_EQ(r.Take<WORD>(), 400);  // weight
  EXPECT_EQ(r.Take<BYTE>(), 0);    // not italic
  EXPECT_EQ(r.Take<BYTE>(), SHIFTJIS_CHARSET);
  EXPECT_EQ(r.Name(), L"MS UI Gothic");
  EXPECT_EQ(style & (DS_CENTER | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU),
            DWORD{DS_CENTER | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU});
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
  ASSERT_EQ(count, std::size(kTemplate));
  for (const Row& row : kTemplate) {
    SCOPED_TRACE(row.text);
    r.Align();
    r.p += 2 * sizeof(DWORD);  // help id, extended style
    const DWORD item = r.Take<DWORD>();
    const auto x = r.Take<short>(), y = r.Take<short>(), cx = r.Take<short>(), cy = r.Take<short>();
    EXPECT_EQ((std::vector<LONG>{x, y, cx, cy}),
              (std::vector<LONG>{row.du.left, row.du.top, row.du.right, row.du.bottom}));
    EXPECT_EQ(static_cast<int>(r.Take<DWORD>()), row.id);
    ExpectKind(row.kind, r.Name(), item, true);
    EXPECT_EQ(r.Name(), row.text);
    r.p += r.Take<WORD>();  // creation data
    EXPECT_EQ((item & WS_TABSTOP) != 0, row.tab);
    EXPECT_EQ((item & WS_GROUP) != 0, row.group);
  }

  const std::unique_ptr<HWND__, decltype(&DestroyWindow)> dialog(
      CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                 reinterpret_cast<LPCDLGTEMPLATEW>(bytes), nullptr, Passive, 0),
      &DestroyWindow);
  ASSERT_NE(dialog, nullptr);
  HWND dlg = dialog.get();
  // Windows maps each of x, y, width and height on its own, as MapDialogRect does.
  const auto pixels = [&](RECT du) {
    MapDialogRect(dlg, &du);
    return std::vector<LONG>{du.left, du.top, du.right, du.bottom};
  };
  RECT client{};
  GetClientRect(dlg, &client);
  EXPECT_EQ((std::vector<LONG>{0, 0, client.right, client.bottom}), pixels({0, 0, 322, 197}));
  const LONG built = GetWindowLongW(dlg, GWL_STYLE);
  EXPECT_EQ(built & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
            WS_CAPTION | WS_SYSMENU);
  RECT window{}, work{};
  GetWindowRect(dlg, &window);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((window.left + window.right) - (work.left + work.right)), 2);
  EXPECT_LE(std::abs((window.top + window.bottom) - (work.top + work.bottom)), 2);

  std::vector<HWND> tabStops;
  HWND child = GetWindow(dlg, GW_CHILD);
  for (const Row& row : kTemplate) {
    SCOPED_TRACE(row.text);
    ASSERT_NE(child, nullptr);
    wchar_t cls[32] = {}, text[64] = {};
    GetClassNameW(child, cls, 32);
    GetWindowTextW(child, text, 64);
    const auto own = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    EXPECT_EQ(GetDlgCtrlID(child), row.id);
    ExpectKind(row.kind, cls, own, false);
    EXPECT_STREQ(row.kind == kList ? row.text : text, row.text);
    EXPECT_EQ((own & WS_TABSTOP) != 0, row.tab);
    EXPECT_EQ((own & WS_GROUP) != 0, row.group);
    RECT at{};
    GetWindowRect(child, &at);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&at), 2);
    // The list's closed height follows its font; the template holds the open list's.
    RECT du = row.du;
    if (row.kind == kList) du.bottom = 0;
    EXPECT_EQ((std::vector<LONG>{at.left, at.top, at.right - at.left,
                                 row.kind == kList ? 0 : at.bottom - at.top}),
              pixels(du));
    if (row.tab) tabStops.push_back(child);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);
  // The Tab key's order: every tab stop once, in template order, then round again.
  for (std::size_t i = 0; i < tabStops.size(); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(dlg, tabStops[i], FALSE), tabStops[(i + 1) % tabStops.size()]) << i;
  }
}

}  // namespace
}  // namespace qlan::e2e
