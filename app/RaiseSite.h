#pragma once
// Where a failure was raised. The last-resort box names the code address of the throw, not
// of the handler that met it: the handler is always the same place in main, the throw is
// what a support engineer needs. The program is linked with the C++ runtime's throw entry
// wrapped (see app/CMakeLists.txt), and the wrapper notes each throw's object and site.

#include <cstdint>
#include <exception>

namespace bunkmere {

// The address, relative to the executable's load address, of the code that threw AFailure;
// the caller's own address when that throw was not seen (one inside the C++ runtime) or
// AFailure is null (a failure that is no std::exception).
[[gnu::noinline]] std::uintptr_t RaiseSiteOf(const std::exception* AFailure);

}  // namespace bunkmere
