#pragma once
// The floor the benchmarks compare with: plain ODBC calls, nothing cached, nothing checked
// beyond what keeps the loop honest.

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

struct FetchFigures {
  std::int64_t rows = 0;
  std::size_t blockRows = 0;  // rows per fetch call
  std::size_t rowBytes = 0;   // bytes of the bound buffers per row
  bool largeObjects = false;  // read a row at a time, the large objects through SQLGetData
  bool boundAfterLargeObject = false;
};

class RawOdbc {
 public:
  explicit RawOdbc(const std::string& AConnectionString);
  ~RawOdbc();
  // Runs ASql and fetches every row into column-bound buffers, discarding them: in blocks of
  // ABlockRows rows, or when that is 0, of as many rows as fit in ABlockBytes. A result with a
  // large-object column is read a row at a time, the large objects through SQLGetData.
  FetchFigures FetchAll(const std::string& ASql, std::size_t ABlockRows,
                        std::size_t ABlockBytes = 0);
  // Runs ASql and reads the first column of its first row as an integer.
  std::int64_t ScalarInt(const std::string& ASql);

 private:
  void* FEnv = nullptr;
  void* FDbc = nullptr;
  void* FStmt = nullptr;
  bool FGetDataAnyColumn = false;
};

}  // namespace bench
