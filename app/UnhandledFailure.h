#pragma once
// The last resort for a failure that nothing in the program handles (in practice one that
// ends the creation of the main window): the unhandled-failure box captioned
// "Application Error", naming the failure's class, the executable and a code address, then
// the failure's message. The process then ends with exit code 1.

#include <cstdint>
#include <exception>
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

}  // namespace bunkmere
