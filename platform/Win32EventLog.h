#pragma once
// The Windows Application event log, where administrators look for what a scheduled task did.
// Entries go under the event source the installer registers (its key under
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application names the program as the
// message file, whose one message is the text as given). Writing needs no console and no
// rights beyond a user's: a source not registered still writes, and Event Viewer then shows
// the text with a note that the description is missing.

#include <string>

namespace bunkmere {

enum class TEventLevel { Information, Warning, Error };

// The source's name, as the package registers it.
inline constexpr wchar_t kEventSource[] = L"Bunkmere";
// The message id whose text is "%1" in the program's message table.
inline constexpr unsigned long kEventTextMessage = 1;

// Writes AText (UTF-8) as one entry; false when the system refused it (the error in
// GetLastError), which the caller can only note: the run's outcome does not depend on it.
bool WriteEventLog(TEventLevel ALevel, const std::string& AText);

}  // namespace bunkmere
