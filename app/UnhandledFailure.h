#pragma once
// The last resort for a failure that nothing in the program handles (in practice one that
// ends the creation of the main window): the unhandled-failure box captioned
// "Application Error", naming the failure's class, the executable and a code address, then
// the failure's message. The process then ends with exit code 1.

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace bunkmere {

// "Exception EIniFileException in module Bunkmere at 0001A2F4.\n\n<message>."
std::string UnhandledFailureText(const std::string& AClassName, const std::string& AModule,
                                 std::uintptr_t AAddress, const std::string& AMessage);

// The class name users see: an Exception's own, otherwise the C++ type's name.
std::string FailureClassName(const std::exception& AFailure);

// Shows the box (and writes its text to the standard error stream, for machines without a
// person in front of them; only there when AShowBox is false); returns the exit code, 1.
int ShowUnhandledFailure(const std::string& AClassName, const std::string& AMessage,
                         std::uintptr_t AAddress, bool AShowBox = true);

// Runs ABody (the program's start-up and event loop) and ends a failure that escapes it, a
// handler's throw carried out of the event loop among them, with the box above; ARaiseSite
// names the code that raised it (RaiseSiteOf in the program). Returns the exit code.
int RunOrShowUnhandledFailure(const std::function<int()>& ABody,
                              std::uintptr_t (*ARaiseSite)(const std::exception*),
                              bool AShowBox = true);

}  // namespace bunkmere
