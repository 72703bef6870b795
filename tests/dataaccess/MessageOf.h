#pragma once
// The message of the Exception an action raises, or "(no failure)", so tests compare the exact
// text a user would see.

#include <string>

#include "core/Exceptions.h"

namespace bunkmere {

template <class F>
std::string MessageOf(F&& AAction) {
  try {
    AAction();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no failure)";
}

}  // namespace bunkmere
