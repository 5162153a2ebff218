#include "app/win32/am_error_reporter.h"

namespace veltrane::win32 {
namespace {

// The text buffer DirectShow fills, in characters.
constexpr DWORD kErrorTextLength = 160;

std::wstring SystemLibraryPath(const wchar_t* name) {
  std::wstring path(MAX_PATH, L'\0');
  const UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  return path + L"\\" + name;
}

}  // namespace

AmErrorReporter::AmErrorReporter(DialogView& view, std::string app_title)
    : ViewErrorReporter(view, std::move(app_title)) {
  const std::wstring path = SystemLibraryPath(L"quartz.dll");
  if (path.empty()) return;
  quartz_.reset(LoadLibraryW(path.c_str()));
  if (!quartz_) return;
  // Through void (*)(): GetProcAddress's type fits no real signature.
  error_text_ = reinterpret_cast<ErrorTextFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(quartz_.get(), "AMGetErrorTextA")));
}

std::string AmErrorReporter::ErrorText(HResult code) const {
  if (error_text_ == nullptr) return PortableErrorText(code);
  std::string text(kErrorTextLength, '\0');
  const DWORD written = error_text_(static_cast<HRESULT>(code), text.data(), kErrorTextLength);
  if (written == 0) return PortableErrorText(code);
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  // The system's message texts end with a line break; a box needs none.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) return PortableErrorText(code);
  return text;
}

}  // namespace veltrane::win32
