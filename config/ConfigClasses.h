#pragma once
// Makes the configuration components known to stored descriptions: their classes and
// published properties in declaration order with their stored conditions. Idempotent; call
// it before reading or writing a description that holds them.

namespace bunkmere {

void RegisterConfigClasses();

}  // namespace bunkmere
