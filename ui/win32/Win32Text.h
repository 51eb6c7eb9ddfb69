// Texts between the program (UTF-8) and the wide-character Windows API, and the small helpers
// every window of the native face shares: the DPI scale and the window font.
#pragma once

#include <windows.h>

#include <string>

namespace win {

inline std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int count =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
  return wide;
}

inline std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), count,
                      nullptr, nullptr);
  return text;
}

// A control's text.
inline std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(window, wide.data(), length + 1);
  wide.resize(static_cast<std::size_t>(length));
  return Utf8(wide);
}

inline void SetText(HWND window, const std::string& text) {
  SetWindowTextW(window, Wide(text).c_str());
}

// The program's messages separate lines with a lone CR, the model's tooltips with a lone LF; the
// system's boxes and tooltips want CR LF.
inline std::string CrLfLines(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) out += '\n';
  }
  return out;
}

// The DPI of a window (its monitor's, for a per-monitor aware program), 96 when it cannot be
// told. GetDpiForWindow is looked up at run time: older systems lack it.
UINT WindowDpi(HWND window);

// Pixels at 96 DPI, scaled to dpi.
inline int Scale(int pixels, UINT dpi) {
  return MulDiv(pixels, static_cast<int>(dpi), 96);
}

// Tahoma (the system's dialog font where it is missing) with a 13-pixel character height at 96
// DPI, scaled; bold for the command buttons; underlined for a link under the pointer.
HFONT MakeWindowFont(UINT dpi, bool bold, bool underline = false);

// The window's client area of width x height (already scaled) as the size of the whole window.
SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

}  // namespace win
