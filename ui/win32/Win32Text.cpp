#include "ui/win32/Win32Text.h"

namespace win {

namespace {

template <typename T>
T User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 != nullptr
             ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
             : nullptr;
}

}  // namespace

UINT WindowDpi(HWND window) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const TGetDpiForWindow getDpiForWindow =
      User32Function<TGetDpiForWindow>("GetDpiForWindow");
  if (getDpiForWindow != nullptr && window != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

HFONT MakeWindowFont(UINT dpi, bool bold, bool underline) {
  LOGFONTW font{};
  font.lfHeight = -Scale(13, dpi);  // character height, without the internal leading
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfUnderline = underline ? TRUE : FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = CLEARTYPE_QUALITY;
  wcscpy(font.lfFaceName, L"Tahoma");
  HFONT made = CreateFontIndirectW(&font);
  if (made != nullptr) return made;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  metrics.lfMessageFont.lfHeight = font.lfHeight;
  metrics.lfMessageFont.lfWeight = font.lfWeight;
  metrics.lfMessageFont.lfUnderline = font.lfUnderline;
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, UINT dpi) {
  RECT rect{0, 0, width, height};
  using TAdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const TAdjustForDpi adjustForDpi =
      User32Function<TAdjustForDpi>("AdjustWindowRectExForDpi");
  if (adjustForDpi == nullptr || !adjustForDpi(&rect, style, FALSE, exStyle, dpi))
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace win
