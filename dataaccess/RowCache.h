#pragma once
// The client copy of a dataset's rows, stored compactly: each row is one contiguous record in
// a chunked byte arena (a null bitmap, fixed-width values, then the bytes of its text and
// binary values), with no heap object per value. Rows are appended a fetched block at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/odbc/DbValue.h"

namespace bunkmere {

namespace odbc {
class TOdbcBlockReader;
}

struct TTrimRules {
  bool FixedChar = true;  // trailing blanks and control characters cut from char/nchar
  bool VarChar = false;   // the same for varchar/nvarchar
};

class TRowCache {
 public:
  TRowCache() = default;
  TRowCache(const TRowCache&) = delete;
  TRowCache& operator=(const TRowCache&) = delete;

  // Drops every row and lays records out for AColumns. The memory of the dropped rows is kept
  // for the rows appended next, so that reading a big result again (a refresh) neither returns
  // it nor has it mapped in anew; ReleaseUnused then returns what those rows did not need.
  void Reset(const std::vector<TColumnDesc>& AColumns, TTrimRules ATrim);
  void ReleaseUnused();
  // Drops every row and returns all memory.
  void Clear();

  // Appends the ARows rows of the reader's current block.
  void AppendBlock(const odbc::TOdbcBlockReader& AReader, std::size_t ARows);

  std::size_t RowCount() const noexcept { return FRows.size(); }
  bool IsNull(std::size_t ARow, std::size_t ACol) const {
    return (FRows[ARow][ACol >> 3] >> (ACol & 7)) & 1;
  }
  std::int64_t Int(std::size_t ARow, std::size_t ACol) const;
  double Float(std::size_t ARow, std::size_t ACol) const;  // Float and DateTime columns
  bool Bool(std::size_t ARow, std::size_t ACol) const;
  std::string_view Bytes(std::size_t ARow, std::size_t ACol) const;  // Text and Bytes columns
  TDbValue Value(std::size_t ARow, std::size_t ACol) const;
  std::vector<TDbValue> RowValues(std::size_t ARow) const;

  // Replaces, inserts or removes one row (values in column order, of the columns' kinds).
  void ReplaceRow(std::size_t ARow, const std::vector<TDbValue>& AValues);
  void InsertRow(std::size_t ARow, const std::vector<TDbValue>& AValues);
  void DeleteRow(std::size_t ARow);

  // Bytes held for the rows: arena chunks and the row index.
  std::size_t AllocatedBytes() const noexcept;

  // A value of one column of a block as the cache would keep it (trimmed), for callers that
  // read single rows outside the cache.
  static TDbValue ReadCell(const odbc::TOdbcBlockReader& AReader, const TColumnDesc& AColumn,
                           std::size_t ACol, std::size_t ARow, TTrimRules ATrim);

 private:
  struct TSlot {
    std::uint32_t Offset = 0;  // of the value, or of its length for text and bytes
    std::uint8_t Width = 0;    // bytes of the value or of the length field
    bool Variable = false;
    bool Trim = false;
    TColumnKind Kind = TColumnKind::Text;
  };
  char* Allocate(std::size_t ABytes);
  std::size_t VarLength(const char* ARecord, std::size_t ACol) const;
  std::size_t VarOffset(const char* ARecord, std::size_t ACol) const;
  char* Encode(const std::vector<TDbValue>& AValues);

  // A value too long for its column's length field: refused, never wrapped.
  [[noreturn]] void TooLong(std::size_t ACol, std::size_t ALength) const;

  std::vector<TSlot> FSlots;
  std::vector<std::string> FNames;    // of the columns, for messages
  std::vector<std::size_t> FVarCols;  // variable columns in order
  std::size_t FFixedSize = 0;
  std::vector<char*> FRows;
  struct TChunkFree {
    void operator()(char* AChunk) const noexcept;
  };
  using TChunk = std::unique_ptr<char, TChunkFree>;
  static TChunk NewChunk(std::size_t ASize);
  std::vector<TChunk> FChunks;
  std::vector<std::size_t> FChunkSizes;
  std::size_t FChunksInUse = 0;  // the first ones; the last of them is being filled
  std::size_t FChunkUsed = 0;    // bytes used of the one being filled
  // While a block is appended: each row's bytes of variable values, its record, and where
  // its next variable value goes.
  std::vector<std::size_t> FBlockVarBytes;
  std::vector<char*> FBlockRecords;
  std::vector<char*> FBlockVar;
};

}  // namespace bunkmere
