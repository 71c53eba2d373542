#include "ui/AboutDialog.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/WinText.h"
#include "ui/Gdi.h"

#include "resources/resource.h"
#include "support/Diag.h"
#include "support/Language.h"

// The dialog's objects report under the program's main source name, as the
// rest of the start-up and shell code does.
#define ABOUT_ASSERT(expression) ((expression) ? (void)0 : AssertFailed(#expression, "Main", __LINE__))

namespace {

// The controls of the dialog, in the order they are placed.
constexpr int kItems[] = {IDC_ABOUT_ICON,  IDC_ABOUT_NAME,  IDC_ABOUT_VERSION,
                          IDC_ABOUT_LINE1, IDC_ABOUT_LINE2, IDC_ABOUT_BITMAP};
constexpr int kItemCount = static_cast<int>(sizeof(kItems) / sizeof(kItems[0]));
// The bitmap's size at 96 DPI.
constexpr int kBitmapWidth = 22;
constexpr int kBitmapHeight = 21;

// The dialog's fonts, icon and bitmap, made at WM_INITDIALOG (the fonts and
// bitmap again at each WM_DPICHANGED, the ones made before freed) and freed
// when the dialog has gone; the places the dialog was made with, which every
// other DPI scales.
struct AboutObjects {
  ScopedGdiObject<HFONT> font;
  ScopedGdiObject<HFONT> fontBold;
  ScopedIcon icon;
  ScopedGdiObject<HBITMAP> bitmap;
  int madeDpi = 96;
  SIZE madeClient = {};
  RECT madeItems[kItemCount] = {};
};

// 12 pixels high at 96 DPI, scaled to the dialog's DPI as its layout is.
HFONT MakeFont(int weight, int dpi) {
  LOGFONTA font = {};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  font.lfHeight = MulDiv(12, dpi, 96);
  font.lfWidth = 0;
  font.lfWeight = weight;
  return CreateFontIndirectA(&font);
}

void SetItemFont(HWND dialog, int id, HFONT font) {
  SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// The fonts and the bitmap for dpi, given to the controls; those made before
// are freed once no control holds them.
void MakeDpiObjects(HWND dialog, AboutObjects& objects, int dpi) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
  HFONT font = MakeFont(FW_NORMAL, dpi);
  HFONT fontBold = MakeFont(FW_BOLD, dpi);
  SetItemFont(dialog, IDC_ABOUT_NAME, fontBold);
  SetItemFont(dialog, IDC_ABOUT_VERSION, font);
  SetItemFont(dialog, IDC_ABOUT_LINE1, font);
  SetItemFont(dialog, IDC_ABOUT_LINE2, font);
  objects.font.Reset(font);
  objects.fontBold.Reset(fontBold);
  // The bitmap is loaded at its size for the DPI, from the drawing made for
  // the nearest scale (exact at 100, 150 and 200 %, stretched a little
  // between them), not stretched by the control.
  const int drawing = dpi < 120 ? IDB_ABOUT : dpi < 168 ? IDB_ABOUT_150 : IDB_ABOUT_200;
  HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(drawing), IMAGE_BITMAP,
                                                   ScaledLength(kBitmapWidth, dpi), ScaledLength(kBitmapHeight, dpi),
                                                   LR_LOADTRANSPARENT | LR_LOADMAP3DCOLORS));
  SendDlgItemMessageA(dialog, IDC_ABOUT_BITMAP, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
  objects.bitmap.Reset(bitmap);
}

void InitDialog(HWND dialog, AboutObjects& objects) {
  ABOUT_ASSERT(objects.font.Get() == NULL);
  ABOUT_ASSERT(objects.fontBold.Get() == NULL);
  ABOUT_ASSERT(objects.icon.Get() == NULL);
  ABOUT_ASSERT(objects.bitmap.Get() == NULL);
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));

  objects.madeDpi = WindowDpi(dialog);
  SetWindowTextA(dialog, LoadResourceString(IDS_ABOUT).c_str());

  objects.icon.Reset(
      static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_QUILLON), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(objects.icon.Get()));
  SendDlgItemMessageA(dialog, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(objects.icon.Get()), 0);

  MakeDpiObjects(dialog, objects, objects.madeDpi);
  SetDlgItemTextA(dialog, IDC_ABOUT_NAME, LoadResourceString(IDS_APP_NAME).c_str());
  SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, GetModuleVersionText(instance).c_str());

  RECT client = {};
  GetClientRect(dialog, &client);
  objects.madeClient = {client.right, client.bottom};
  for (int i = 0; i < kItemCount; ++i) {
    HWND item = GetDlgItem(dialog, kItems[i]);
    GetWindowRect(item, &objects.madeItems[i]);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&objects.madeItems[i]), 2);
  }
}

// WM_DPICHANGED: the suggested place, then the client area and every
// control scaled from their places at the DPI the dialog was made at, with
// fonts and bitmap made for the new DPI.
void OnDpiChanged(HWND dialog, AboutObjects& objects, int dpi, const RECT* suggested) {
  if (dpi <= 0) return;
  MoveDialogToDpi(dialog, suggested, objects.madeClient, objects.madeDpi, dpi);
  auto scale = [&](LONG length) { return MulDiv(length, dpi, objects.madeDpi); };
  MakeDpiObjects(dialog, objects, dpi);
  for (int i = 0; i < kItemCount; ++i) {
    const RECT& made = objects.madeItems[i];
    MoveWindow(GetDlgItem(dialog, kItems[i]), scale(made.left), scale(made.top), scale(made.right - made.left),
               scale(made.bottom - made.top), TRUE);
  }
}

// The objects come with WM_INITDIALOG and are kept in the dialog's user data.
INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      InitDialog(dialog, *reinterpret_cast<AboutObjects*>(lParam));
      return TRUE;
    case WM_DPICHANGED: {
      auto* objects = reinterpret_cast<AboutObjects*>(GetWindowLongPtrA(dialog, DWLP_USER));
      if (objects != nullptr)
        OnDpiChanged(dialog, *objects, DpiChangedDpi(wParam), reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    }
    case WM_COMMAND:
      // Enter and Escape close the dialog as its close box does.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void RunAboutDialog(HINSTANCE instance, HWND owner) {
  // Freed once the dialog and its controls have gone.
  AboutObjects objects;
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutProc, reinterpret_cast<LPARAM>(&objects));
}

std::string FormatVersionText(unsigned major, unsigned minor, unsigned build, unsigned revision) {
  char text[64];
  snprintf(text, sizeof(text), "Version %u.%02u.%04u.%04u", major, minor, build, revision);
  return text;
}

namespace {
// The version library's three functions, bound at run time from the system
// folder: imported at load time, a stray version.dll beside the program would
// be loaded before the program starts.
struct VersionFunctions {
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  SizeFn getSize = nullptr;
  InfoFn getInfo = nullptr;
  QueryFn query = nullptr;
};

const VersionFunctions& Version() {
  static const VersionFunctions functions = [] {
    VersionFunctions f;
    HMODULE library = platform::LoadSystemLibrary(L"version.dll");
    if (library == nullptr) return f;
    f.getSize = reinterpret_cast<VersionFunctions::SizeFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetFileVersionInfoSizeW")));
    f.getInfo = reinterpret_cast<VersionFunctions::InfoFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetFileVersionInfoW")));
    f.query =
        reinterpret_cast<VersionFunctions::QueryFn>(reinterpret_cast<void*>(GetProcAddress(library, "VerQueryValueW")));
    return f;
  }();
  return functions;
}
}  // namespace

std::string GetModuleVersionText(HMODULE module) {
  const VersionFunctions& version = Version();
  if (version.getSize == nullptr || version.getInfo == nullptr || version.query == nullptr) return "Version";
  std::vector<wchar_t> path(32768);
  DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return "Version";
  DWORD ignored = 0;
  DWORD size = version.getSize(path.data(), &ignored);
  if (size == 0) return "Version";
  std::unique_ptr<char[]> data(new char[size]);
  if (!version.getInfo(path.data(), 0, size, data.get())) return "Version";
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!version.query(data.get(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || info == nullptr ||
      infoSize < sizeof(VS_FIXEDFILEINFO)) {
    return "Version";
  }
  return FormatVersionText(HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                           LOWORD(info->dwFileVersionLS));
}
