#include "app/UnhandledFailure.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "core/Exceptions.h"
#include "platform/Platform.h"
#include "ui/Application.h"
#include "ui/Graphics.h"

namespace bunkmere {

std::string UnhandledFailureText(const std::string& AClassName, const std::string& AModule,
                                 std::uintptr_t AAddress, const std::string& AMessage) {
  char address[32];
  std::snprintf(address, sizeof address, "%08llX", static_cast<unsigned long long>(AAddress));
  return "Exception " + AClassName + " in module " + AModule + " at " + address + ".\n\n" +
         ErrorBoxText(AMessage);
}

std::string FailureClassName(const std::exception& AFailure) {
  if (const auto* e = dynamic_cast<const Exception*>(&AFailure)) return e->ClassName();
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(AFailure).name(), nullptr, nullptr, &status);
  std::string result = (status == 0 && name != nullptr) ? name : typeid(AFailure).name();
  std::free(name);
  return result;
}

int ShowUnhandledFailure(const std::string& AClassName, const std::string& AMessage,
                         std::uintptr_t AAddress, bool AShowBox) {
  std::string module = "Bunkmere";
  try {
    module = CurrentPlatform().ExecutableFileName();
  } catch (const std::exception&) {
    // The box must still appear; the program's own name will do.
  }
  const std::string text = UnhandledFailureText(AClassName, module, AAddress, AMessage);
  std::fprintf(stderr, "Application Error: %s\n", text.c_str());
  if (AShowBox && ApplicationExists())
    Application().MessageBoxes().Show("Application Error", text, TMsgDlgType::mtError);
  return 1;
}

int RunOrShowUnhandledFailure(const std::function<int()>& ABody,
                              std::uintptr_t (*ARaiseSite)(const std::exception*), bool AShowBox) {
  try {
    return ABody();
  } catch (const std::exception& e) {
    return ShowUnhandledFailure(FailureClassName(e), e.what(), ARaiseSite(&e), AShowBox);
  } catch (...) {
    return ShowUnhandledFailure("Unknown", "Unknown failure", ARaiseSite(nullptr), AShowBox);
  }
}

}  // namespace bunkmere
