#pragma once
// The system's exception hierarchy. A handler that must catch "Exception or a descendant"
// catches `Exception&` and nothing wider, so failures of other kinds (std::bad_alloc, a
// logic error) are left to the application's last-resort handling.

#include <stdexcept>
#include <string>

namespace bunkmere {

class Exception : public std::exception {
 public:
  explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string AMessage) { FMessage = std::move(AMessage); }
  // The class name as users see it in error boxes ("EDatabaseError").
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string FMessage;
};

#define BUNKMERE_EXCEPTION(Name, Base)                                   \
  class Name : public Base {                                             \
   public:                                                               \
    using Base::Base;                                                    \
    const char* ClassName() const noexcept override { return #Name; }    \
  }

// Database failures: server and driver errors, dataset misuse.
BUNKMERE_EXCEPTION(EDatabaseError, Exception);
// Site configuration file failures.
BUNKMERE_EXCEPTION(EIniFileException, Exception);
// A text that does not convert to the number, Boolean or date asked for.
BUNKMERE_EXCEPTION(EConvertError, Exception);
// A component reference of the wrong class.
BUNKMERE_EXCEPTION(EInvalidCast, Exception);
// A file that cannot be opened, read or written; the message names the path and reason.
BUNKMERE_EXCEPTION(EFileError, Exception);

}  // namespace bunkmere
