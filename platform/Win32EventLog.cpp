#include "platform/Win32EventLog.h"

#include <windows.h>

namespace bunkmere {

bool WriteEventLog(TEventLevel ALevel, const std::string& AText) {
  const HANDLE source = RegisterEventSourceW(nullptr, kEventSource);
  if (source == nullptr) return false;
  // One insertion string holds at most 31,839 characters.
  constexpr int kMost = 31839;
  int n = MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), text.data(), n);
  if (text.size() > kMost) text.resize(kMost);
  const WORD type = ALevel == TEventLevel::Information ? EVENTLOG_INFORMATION_TYPE
                    : ALevel == TEventLevel::Warning   ? EVENTLOG_WARNING_TYPE
                                                       : EVENTLOG_ERROR_TYPE;
  LPCWSTR strings[] = {text.c_str()};
  const BOOL written =
      ReportEventW(source, type, 0, kEventTextMessage, nullptr, 1, 0, strings, nullptr);
  const DWORD error = GetLastError();
  DeregisterEventSource(source);
  SetLastError(error);
  return written != FALSE;
}

}  // namespace bunkmere
