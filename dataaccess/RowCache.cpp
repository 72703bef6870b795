#include "dataaccess/RowCache.h"

#include <cstdlib>
#include <cstring>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "core/Exceptions.h"
#include "dataaccess/odbc/OdbcBlockReader.h"
#include "dataaccess/odbc/OdbcStatement.h"

namespace bunkmere {
namespace {

// Chunks start small (most results of the pass are one row) and double up to a size where
// one allocation serves thousands of rows.
constexpr std::size_t kFirstChunk = 4096;
constexpr std::size_t kMaxChunk = 2 * 1024 * 1024;

std::string_view TrimmedRight(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

template <class T>
T Load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void Store(char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace

void TRowCache::Reset(const std::vector<TColumnDesc>& AColumns, TTrimRules ATrim) {
  FRows.clear();
  FChunksInUse = 0;
  FChunkUsed = 0;
  FSlots.assign(AColumns.size(), TSlot{});
  FNames.clear();
  for (const TColumnDesc& d : AColumns) FNames.push_back(d.Name);
  FVarCols.clear();
  std::size_t offset = (AColumns.size() + 7) / 8;  // null bitmap
  for (std::size_t c = 0; c < AColumns.size(); ++c) {
    const TColumnDesc& d = AColumns[c];
    TSlot& s = FSlots[c];
    s.Kind = d.Kind;
    switch (d.Kind) {
      case TColumnKind::Int32:
        s.Width = 4;
        break;
      case TColumnKind::Int64:
      case TColumnKind::Float:
      case TColumnKind::DateTime:
        s.Width = 8;
        break;
      case TColumnKind::Boolean:
        s.Width = 1;
        break;
      case TColumnKind::Text:
      case TColumnKind::Bytes:
        s.Variable = true;
        // A value of declared size takes at most 24,000 bytes as read, so two bytes hold its
        // length; the reader refuses longer ones and Append checks again.
        s.Width = d.LargeObject ? 4 : 2;
        s.Trim = d.Kind == TColumnKind::Text && !d.LargeObject &&
                 (d.FixedLength ? ATrim.FixedChar : ATrim.VarChar);
        FVarCols.push_back(c);
        break;
    }
    s.Offset = static_cast<std::uint32_t>(offset);
    offset += s.Width;
  }
  FFixedSize = offset;
}

void TRowCache::ReleaseUnused() {
  FChunks.resize(FChunksInUse);
  FChunkSizes.resize(FChunksInUse);
}

void TRowCache::Clear() {
  FRows.clear();
  FRows.shrink_to_fit();
  FChunks.clear();
  FChunkSizes.clear();
  FChunksInUse = 0;
  FChunkUsed = 0;
}

void TRowCache::TChunkFree::operator()(char* AChunk) const noexcept {
  std::free(AChunk);
}

// Full-sized chunks are aligned to their size and, on Linux, offered to the kernel for one
// huge page each: filling a large table's cache then takes one page fault per chunk instead
// of 512, and those faults were most of the client's CPU beyond the raw fetch when a table of
// millions of rows was opened.
TRowCache::TChunk TRowCache::NewChunk(std::size_t ASize) {
  void* chunk = nullptr;
#ifdef __linux__
  if (ASize % kMaxChunk == 0) {
    chunk = std::aligned_alloc(kMaxChunk, ASize);
    if (chunk != nullptr) ::madvise(chunk, ASize, MADV_HUGEPAGE);
  } else {
    chunk = std::malloc(ASize);
  }
#else
  chunk = std::malloc(ASize);
#endif
  if (chunk == nullptr) throw std::bad_alloc();
  return TChunk(static_cast<char*>(chunk));
}

char* TRowCache::Allocate(std::size_t ABytes) {
  if (FChunksInUse == 0 || FChunkUsed + ABytes > FChunkSizes[FChunksInUse - 1]) {
    if (FChunksInUse < FChunks.size() && FChunkSizes[FChunksInUse] >= ABytes) {
      ++FChunksInUse;  // a chunk kept from the rows dropped by Reset
    } else {
      std::size_t next =
          FChunksInUse == 0 ? kFirstChunk : std::min(kMaxChunk, FChunkSizes[FChunksInUse - 1] * 2);
      std::size_t size = std::max(next, ABytes);
      const auto at = static_cast<std::ptrdiff_t>(FChunksInUse);
      FChunks.insert(FChunks.begin() + at, NewChunk(size));
      FChunkSizes.insert(FChunkSizes.begin() + at, size);
      ++FChunksInUse;
    }
    FChunkUsed = 0;
  }
  char* p = FChunks[FChunksInUse - 1].get() + FChunkUsed;
  FChunkUsed += ABytes;
  return p;
}

std::size_t TRowCache::VarLength(const char* r, std::size_t c) const {
  const TSlot& s = FSlots[c];
  return s.Width == 2 ? Load<std::uint16_t>(r + s.Offset) : Load<std::uint32_t>(r + s.Offset);
}

std::size_t TRowCache::VarOffset(const char* r, std::size_t c) const {
  std::size_t off = FFixedSize;
  for (std::size_t v : FVarCols) {
    if (v == c) break;
    off += VarLength(r, v);
  }
  return off;
}

static_assert(sizeof(SQLINTEGER) == sizeof(std::int32_t) &&
              sizeof(SQLBIGINT) == sizeof(std::int64_t));

// A column at a time rather than a row at a time: the kind of each column is looked at once
// per block, and the inner loops only move values.
void TRowCache::AppendBlock(const odbc::TOdbcBlockReader& R, std::size_t ARows) {
  if (ARows == 0) return;
  const std::size_t cols = FSlots.size();
  // Each record's size: the fixed part and its variable values as they will be kept.
  FBlockVarBytes.assign(ARows, 0);
  std::size_t* varBytes = FBlockVarBytes.data();
  for (std::size_t c : FVarCols) {
    const bool trim = FSlots[c].Trim;
    const std::size_t most = FSlots[c].Width == 2 ? 0xFFFF : 0xFFFFFFFF;
    for (std::size_t row = 0; row < ARows; ++row) {
      if (R.IsNull(c, row)) continue;
      std::string_view v = R.Bytes(c, row);
      const std::size_t n = trim ? TrimmedRight(v).size() : v.size();
      if (n > most) TooLong(c, n);
      varBytes[row] += n;
    }
  }
  FBlockRecords.resize(ARows);
  FBlockVar.resize(ARows);
  for (std::size_t row = 0; row < ARows; ++row) {
    const std::size_t var = varBytes[row];
    char* rec = Allocate(FFixedSize + var);
    std::memset(rec, 0, FFixedSize);
    FBlockRecords[row] = rec;
    FBlockVar[row] = rec + FFixedSize;
  }
  char* const* recs = FBlockRecords.data();
  for (std::size_t c = 0; c < cols; ++c) {
    const TSlot& s = FSlots[c];
    const std::size_t at = s.Offset;
    const char nullBit = static_cast<char>(1 << (c & 7));
    const std::size_t nullByte = c >> 3;
    auto markNull = [&](std::size_t row) { recs[row][nullByte] |= nullBit; };
    if (s.Variable) {
      for (std::size_t row = 0; row < ARows; ++row) {
        if (R.IsNull(c, row)) {
          markNull(row);
          continue;
        }
        std::string_view v = R.Bytes(c, row);
        if (s.Trim) v = TrimmedRight(v);
        if (s.Width == 2)
          Store(recs[row] + at, static_cast<std::uint16_t>(v.size()));
        else
          Store(recs[row] + at, static_cast<std::uint32_t>(v.size()));
        if (!v.empty()) std::memcpy(FBlockVar[row], v.data(), v.size());
        FBlockVar[row] += v.size();
      }
      continue;
    }
    if (!R.IsBound(c)) {
      // A fixed-size value read on its own (a row after a large object).
      for (std::size_t row = 0; row < ARows; ++row) {
        if (R.IsNull(c, row)) {
          markNull(row);
          continue;
        }
        char* p = recs[row] + at;
        switch (s.Kind) {
          case TColumnKind::Int32:
            Store(p, static_cast<std::int32_t>(R.Int(c, row)));
            break;
          case TColumnKind::Int64:
            Store(p, R.Int(c, row));
            break;
          case TColumnKind::Boolean:
            *p = R.Bool(c, row) ? 1 : 0;
            break;
          case TColumnKind::Float:
            Store(p, R.Float(c, row));
            break;
          case TColumnKind::DateTime:
            Store(p, R.DateTime(c, row));
            break;
          default:
            break;
        }
      }
      continue;
    }
    const char* src = R.ColumnData(c);
    const SQLLEN* ind = R.ColumnIndicators(c);
    const std::size_t width = R.ColumnWidth(c);
    switch (s.Kind) {
      case TColumnKind::Int32:
        // The driver wrote an SQLINTEGER, the width the cache keeps.
        for (std::size_t row = 0; row < ARows; ++row, src += width) {
          if (ind[row] == SQL_NULL_DATA)
            markNull(row);
          else
            std::memcpy(recs[row] + at, src, sizeof(std::int32_t));
        }
        break;
      case TColumnKind::Int64:
        for (std::size_t row = 0; row < ARows; ++row, src += width) {
          if (ind[row] == SQL_NULL_DATA)
            markNull(row);
          else
            std::memcpy(recs[row] + at, src, sizeof(std::int64_t));
        }
        break;
      case TColumnKind::Boolean:
        for (std::size_t row = 0; row < ARows; ++row, src += width) {
          if (ind[row] == SQL_NULL_DATA)
            markNull(row);
          else
            recs[row][at] = *src != 0 ? 1 : 0;
        }
        break;
      case TColumnKind::Float:
        for (std::size_t row = 0; row < ARows; ++row, src += width) {
          if (ind[row] == SQL_NULL_DATA)
            markNull(row);
          else
            std::memcpy(recs[row] + at, src, sizeof(double));
        }
        break;
      case TColumnKind::DateTime:
        for (std::size_t row = 0; row < ARows; ++row, src += width) {
          if (ind[row] == SQL_NULL_DATA) {
            markNull(row);
            continue;
          }
          SQL_TIMESTAMP_STRUCT ts;
          std::memcpy(&ts, src, sizeof ts);
          Store(recs[row] + at, odbc::TimestampToDateTime(ts));
        }
        break;
      default:
        break;
    }
  }
  FRows.insert(FRows.end(), FBlockRecords.begin(), FBlockRecords.end());
}

std::int64_t TRowCache::Int(std::size_t ARow, std::size_t ACol) const {
  const TSlot& s = FSlots[ACol];
  const char* p = FRows[ARow] + s.Offset;
  switch (s.Kind) {
    case TColumnKind::Int32:
      return Load<std::int32_t>(p);
    case TColumnKind::Int64:
      return Load<std::int64_t>(p);
    case TColumnKind::Boolean:
      return *p != 0;
    default:
      return 0;
  }
}

double TRowCache::Float(std::size_t ARow, std::size_t ACol) const {
  return Load<double>(FRows[ARow] + FSlots[ACol].Offset);
}

bool TRowCache::Bool(std::size_t ARow, std::size_t ACol) const {
  return *(FRows[ARow] + FSlots[ACol].Offset) != 0;
}

std::string_view TRowCache::Bytes(std::size_t ARow, std::size_t ACol) const {
  const char* r = FRows[ARow];
  return {r + VarOffset(r, ACol), VarLength(r, ACol)};
}

TDbValue TRowCache::Value(std::size_t ARow, std::size_t ACol) const {
  const TSlot& s = FSlots[ACol];
  if (IsNull(ARow, ACol)) {
    switch (s.Kind) {
      case TColumnKind::Int32:
      case TColumnKind::Int64:
        return TDbValue::Null(TDbValue::Kind::Integer);
      case TColumnKind::Boolean:
        return TDbValue::Null(TDbValue::Kind::Boolean);
      case TColumnKind::Float:
        return TDbValue::Null(TDbValue::Kind::Float);
      case TColumnKind::DateTime:
        return TDbValue::Null(TDbValue::Kind::DateTime);
      case TColumnKind::Text:
        return TDbValue::Null(TDbValue::Kind::Text);
      case TColumnKind::Bytes:
        return TDbValue::Null(TDbValue::Kind::Bytes);
    }
  }
  switch (s.Kind) {
    case TColumnKind::Int32:
    case TColumnKind::Int64:
      return TDbValue::Integer(Int(ARow, ACol));
    case TColumnKind::Boolean:
      return TDbValue::Boolean(Bool(ARow, ACol));
    case TColumnKind::Float:
      return TDbValue::Float(Float(ARow, ACol));
    case TColumnKind::DateTime:
      return TDbValue::DateTime(Float(ARow, ACol));
    case TColumnKind::Text:
      return TDbValue::Text(std::string(Bytes(ARow, ACol)));
    case TColumnKind::Bytes:
      return TDbValue::Bytes(std::string(Bytes(ARow, ACol)));
  }
  return {};
}

std::vector<TDbValue> TRowCache::RowValues(std::size_t ARow) const {
  std::vector<TDbValue> out;
  out.reserve(FSlots.size());
  for (std::size_t c = 0; c < FSlots.size(); ++c) out.push_back(Value(ARow, c));
  return out;
}

void TRowCache::TooLong(std::size_t ACol, std::size_t ALength) const {
  const std::string name = ACol < FNames.size() && !FNames[ACol].empty()
                               ? FNames[ACol]
                               : "number " + std::to_string(ACol + 1);
  throw EDatabaseError("Value of column " + name + " is too long to keep (" +
                       std::to_string(ALength) + " bytes)");
}

char* TRowCache::Encode(const std::vector<TDbValue>& AValues) {
  std::size_t varBytes = 0;
  for (std::size_t c : FVarCols) {
    std::size_t len = AValues[c].IsNull() ? 0 : AValues[c].s.size();
    if (len > (FSlots[c].Width == 2 ? 0xFFFF : 0xFFFFFFFF)) TooLong(c, len);
    varBytes += len;
  }
  char* rec = Allocate(FFixedSize + varBytes);
  std::memset(rec, 0, FFixedSize);
  char* var = rec + FFixedSize;
  for (std::size_t c = 0; c < FSlots.size(); ++c) {
    const TSlot& s = FSlots[c];
    const TDbValue& v = AValues[c];
    char* p = rec + s.Offset;
    if (v.IsNull()) {
      rec[c >> 3] = static_cast<char>(rec[c >> 3] | (1 << (c & 7)));
      continue;
    }
    switch (s.Kind) {
      case TColumnKind::Int32:
        Store(p, static_cast<std::int32_t>(v.i));
        break;
      case TColumnKind::Int64:
        Store(p, v.i);
        break;
      case TColumnKind::Boolean:
        *p = v.i != 0 ? 1 : 0;
        break;
      case TColumnKind::Float:
      case TColumnKind::DateTime:
        Store(p, v.kind == TDbValue::Kind::Integer ? static_cast<double>(v.i) : v.f);
        break;
      case TColumnKind::Text:
      case TColumnKind::Bytes:
        if (s.Width == 2)
          Store(p, static_cast<std::uint16_t>(v.s.size()));
        else
          Store(p, static_cast<std::uint32_t>(v.s.size()));
        if (!v.s.empty()) std::memcpy(var, v.s.data(), v.s.size());
        var += v.s.size();
        break;
    }
  }
  return rec;
}

void TRowCache::ReplaceRow(std::size_t ARow, const std::vector<TDbValue>& AValues) {
  // The old record's bytes stay in their chunk until the cache is cleared: edits are few.
  FRows[ARow] = Encode(AValues);
}

void TRowCache::InsertRow(std::size_t ARow, const std::vector<TDbValue>& AValues) {
  char* rec = Encode(AValues);
  FRows.insert(FRows.begin() + static_cast<std::ptrdiff_t>(std::min(ARow, FRows.size())), rec);
}

void TRowCache::DeleteRow(std::size_t ARow) {
  FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(ARow));
}

std::size_t TRowCache::AllocatedBytes() const noexcept {
  std::size_t total = FRows.capacity() * sizeof(char*);
  for (std::size_t s : FChunkSizes) total += s;
  return total;
}

TDbValue TRowCache::ReadCell(const odbc::TOdbcBlockReader& R, const TColumnDesc& d, std::size_t c,
                             std::size_t r, TTrimRules ATrim) {
  if (R.IsNull(c, r)) return TDbValue::Null();
  switch (d.Kind) {
    case TColumnKind::Int32:
    case TColumnKind::Int64:
      return TDbValue::Integer(R.Int(c, r));
    case TColumnKind::Boolean:
      return TDbValue::Boolean(R.Bool(c, r));
    case TColumnKind::Float:
      return TDbValue::Float(R.Float(c, r));
    case TColumnKind::DateTime:
      return TDbValue::DateTime(R.DateTime(c, r));
    case TColumnKind::Bytes:
      return TDbValue::Bytes(std::string(R.Bytes(c, r)));
    case TColumnKind::Text: {
      std::string_view v = R.Bytes(c, r);
      bool trim = !d.LargeObject && (d.FixedLength ? ATrim.FixedChar : ATrim.VarChar);
      return TDbValue::Text(std::string(trim ? TrimmedRight(v) : v));
    }
  }
  return {};
}

}  // namespace bunkmere
