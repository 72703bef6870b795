#pragma once
// Registers the data access classes and their published properties with the class registry,
// so stored descriptions can create and set them. Idempotent; call it before reading a
// description that holds any of them.

namespace bunkmere {

void RegisterDataAccessClasses();

}  // namespace bunkmere
