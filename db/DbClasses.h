#pragma once
// Makes the family's database components known to stored descriptions (TVtSQLDatabase,
// TVtMSTable, TVtMSQuery and what they own), with the data access and configuration classes
// they build on. Idempotent; call it before reading or writing a description that holds them.

namespace bunkmere {

void RegisterDbClasses();

}  // namespace bunkmere
