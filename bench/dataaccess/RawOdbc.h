#pragma once
// The floor the benchmarks compare with: plain ODBC calls, nothing cached, nothing checked
// beyond what keeps the loop honest.

#include <cstdint>
#include <string>

namespace bench {

class RawOdbc {
 public:
  explicit RawOdbc(const std::string& AConnectionString);
  ~RawOdbc();
  // Runs ASql and fetches every row in blocks of ARows into column-bound buffers, discarding
  // them. Returns the number of rows.
  std::int64_t FetchAll(const std::string& ASql, int ARows);
  // Runs ASql and reads the first column of its first row as an integer.
  std::int64_t ScalarInt(const std::string& ASql);

 private:
  void* FEnv = nullptr;
  void* FDbc = nullptr;
  void* FStmt = nullptr;
};

}  // namespace bench
