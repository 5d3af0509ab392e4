#include "tools/pe_layout.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tools/tool_error.h"

namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;        // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kSecurityDirectoryIndex = 4;
constexpr std::uint16_t kCertificateRevision2 = 0x0200;
constexpr std::uint16_t kCertificateTypePkcsSignedData = 2;

// Where the data directories start in the optional header, by its magic.
std::optional<std::uint64_t> DataDirectoriesOffset(std::uint16_t magic) {
  if (magic == kPe32Magic) return 96;
  if (magic == kPe32PlusMagic) return 112;
  return std::nullopt;
}

std::optional<std::uint64_t> SectionsEnd(const ByteCursor& file, std::uint64_t table, std::uint16_t count) {
  std::uint64_t end = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t header = table + kSectionHeaderSize * i;
    const auto rawSize = file.U32(header + 16);
    const auto rawOffset = file.U32(header + 20);
    if (!rawSize || !rawOffset) return std::nullopt;
    if (*rawSize != 0) end = std::max(end, std::uint64_t{*rawOffset} + *rawSize);
  }
  return end;
}

std::string At(std::uint64_t offset) { return std::to_string(offset); }

std::string Hex(std::uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return "0x" + text;
}

void RequireZeroPadding(const ByteCursor& file, std::uint64_t from, std::uint64_t end) {
  if (const auto at = file.FirstNonZero(from, end)) {
    RejectCertificateTable("non-zero byte after the last record at " + At(*at));
  }
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(const ByteCursor& file) {
  const auto peOffset = file.U32(0x3C);
  if (file.U16(0) != kDosMagic || !peOffset || file.U32(*peOffset) != kPeSignature) return std::nullopt;
  const std::uint64_t coffHeader = std::uint64_t{*peOffset} + 4;
  const std::uint64_t optionalHeader = coffHeader + kCoffHeaderSize;
  const auto sectionCount = file.U16(coffHeader + 2);
  const auto optionalHeaderSize = file.U16(coffHeader + 16);
  const auto magic = file.U16(optionalHeader);
  if (!sectionCount || !optionalHeaderSize || !magic) return std::nullopt;
  const auto directories = DataDirectoriesOffset(*magic);
  if (!directories || *optionalHeaderSize < *directories) return std::nullopt;

  const std::uint64_t sectionTable = optionalHeader + *optionalHeaderSize;
  const std::uint64_t sectionTableEnd = sectionTable + kSectionHeaderSize * *sectionCount;
  const auto sizeOfHeaders = file.U32(optionalHeader + 60);
  const auto checksum = file.U32(optionalHeader + 64);
  const auto directoryCount = file.U32(optionalHeader + *directories - 4);
  const auto sectionsEnd = SectionsEnd(file, sectionTable, *sectionCount);
  // A file cut off inside its headers is no PE file to update.
  if (sectionTableEnd > file.End() || !sizeOfHeaders || !checksum || !directoryCount || !sectionsEnd) {
    return std::nullopt;
  }
  PeLayout layout{optionalHeader + 64, *checksum, std::nullopt, 0, 0,
                  std::max<std::uint64_t>(sectionTableEnd, *sizeOfHeaders), *sectionsEnd};
  const std::uint64_t entry = *directories + 8 * kSecurityDirectoryIndex;
  if (*directoryCount <= kSecurityDirectoryIndex || entry + 8 > *optionalHeaderSize) return layout;
  const auto tableStart = file.U32(optionalHeader + entry);
  const auto tableSize = file.U32(optionalHeader + entry + 4);
  if (!tableStart || !tableSize) return std::nullopt;
  layout.securityEntry = optionalHeader + entry;
  layout.tableStart = *tableStart;
  layout.tableSize = *tableSize;
  return layout;
}

void RejectCertificateTable(const std::string& reason) {
  throw ToolError(kExitOperationalError, "malformed Authenticode certificate table: " + reason);
}

CertificateTable ReadCertificateTable(const ByteCursor& file, const PeLayout& layout) {
  const std::uint64_t start = layout.tableStart;
  const std::uint64_t end = start + layout.tableSize;
  const std::uint64_t dataEnd = std::max(layout.headersEnd, layout.sectionsEnd);
  if (start < dataEnd) {
    RejectCertificateTable("it starts at " + At(start) + ", inside the headers or section data, which end at " +
                           At(dataEnd));
  }
  if (end > file.End()) {
    RejectCertificateTable("it ends at " + At(end) + ", past the file's end at " + At(file.End()));
  }
  for (std::uint64_t record = start;;) {
    const auto length = file.U32(record);
    const auto revision = file.U16(record + 4);
    const auto type = file.U16(record + 6);
    if (!length || !revision || !type || *length < kCertificateHeaderSize || *length > end - record) {
      RejectCertificateTable("the record at " + At(record) + " does not fit the table, which ends at " + At(end));
    }
    if (*revision != kCertificateRevision2 || *type != kCertificateTypePkcsSignedData) {
      RejectCertificateTable("the record at " + At(record) + " is not a PKCS #7 signature (revision " +
                             Hex(*revision) + ", type " + Hex(*type) + ")");
    }
    const std::uint64_t next = start + RoundUpTo8(record + *length - start);
    if (next >= end) {
      RequireZeroPadding(file, record + *length, end);
      return CertificateTable{start, end - start, record, *length};
    }
    record = next;
  }
}

bool ImageDataContains(const ByteSource& file, const std::uint8_t* pattern, std::size_t size) {
  const auto layout = ReadPeLayout(ByteCursor(file, file.Size()));
  if (!layout) return false;
  const std::uint64_t end = std::min(file.Size(), std::max(layout->headersEnd, layout->sectionsEnd));
  constexpr std::size_t kPiece = 1 << 20;
  // Pieces overlap by one byte less than the pattern, so none is missed.
  std::vector<std::uint8_t> piece(kPiece + size);
  const std::boyer_moore_horspool_searcher searcher(pattern, pattern + size);
  for (std::uint64_t offset = 0; offset + size <= end; offset += kPiece) {
    const std::size_t count = std::min<std::uint64_t>(piece.size() - 1, end - offset);
    file.Fetch(offset, piece.data(), count);
    if (std::search(piece.begin(), piece.begin() + count, searcher) != piece.begin() + count) return true;
  }
  return false;
}
