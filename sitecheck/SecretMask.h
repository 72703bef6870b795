#pragma once
// Keeps passwords out of what the site check prints. A site administrator pastes this output
// into tickets and mails, so no password may reach it by any road: not inside a connection
// string, and not inside a message that a driver or server built from one.

#include <string>
#include <string_view>
#include <vector>

namespace bunkmere {

class TSecretMask {
 public:
  // The connection string with the value of every "Password" or "PWD" pair replaced by
  // kMask; the password is remembered for Mask. Pairs are split at ";" outside double
  // quotes, as connection strings are read, so a quoted password holding ";" is masked whole.
  // Works on text that is no valid connection string too.
  std::string MaskConnectString(std::string_view AText);

  // Remembers a password seen elsewhere (a parsed connection's setting).
  void AddSecret(std::string_view ASecret);

  // AText with every remembered password replaced by kMask, longest first.
  std::string Mask(std::string_view AText) const;

  static constexpr std::string_view kMask = "****";

 private:
  std::vector<std::string> FSecrets;
};

}  // namespace bunkmere
