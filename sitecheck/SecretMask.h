#pragma once
// Keeps passwords out of what the site check prints. A site administrator pastes this output
// into tickets and mails, so no password may reach it, whole or in part. Masking a password
// wherever it turns up in free text gives it away (the mask shows where it matched, and so what
// it is), so nothing is masked after the fact: connection strings are shown only as rebuilt
// from their settings, and the messages printed are built never to hold a password.

#include <string>
#include <string_view>

namespace bunkmere {

inline constexpr std::string_view kPasswordMask = "****";
inline constexpr std::string_view kUnreadableConnectString = "(cannot be read; not shown)";

// The connection string as read by every connection, written again from its settings with a
// non-empty password shown as kPasswordMask; kUnreadableConnectString when it cannot be read
// (its raw text could hold the password anywhere).
std::string ShownConnectString(std::string_view AText);

}  // namespace bunkmere
