#include "tools/tag_placement.h"

#include <optional>
#include <string>

#include "tools/tool_error.h"

namespace {

constexpr std::size_t kCertificateHeaderSize = 8;  // dwLength, wRevision, wCertificateType
constexpr std::uint32_t kSecurityDirectoryIndex = 4;

// Every read of the file goes through these bounds-checked accessors.
std::optional<std::uint32_t> Read16(const std::vector<std::uint8_t>& file, std::size_t at) {
  if (at > file.size() || file.size() - at < 2) return std::nullopt;
  return std::uint32_t{file[at]} | (std::uint32_t{file[at + 1]} << 8);
}

std::optional<std::uint32_t> Read32(const std::vector<std::uint8_t>& file, std::size_t at) {
  if (at > file.size() || file.size() - at < 4) return std::nullopt;
  return std::uint32_t{file[at]} | (std::uint32_t{file[at + 1]} << 8) |
         (std::uint32_t{file[at + 2]} << 16) | (std::uint32_t{file[at + 3]} << 24);
}

// A 16-bit word whose missing high byte at the file's end counts as zero.
std::optional<std::uint32_t> Read16Padded(const std::vector<std::uint8_t>& file, std::size_t at) {
  if (at >= file.size()) return std::nullopt;
  return at + 1 < file.size() ? Read16(file, at) : std::uint32_t{file[at]};
}

void Write32(std::vector<std::uint8_t>& file, std::size_t at, std::uint64_t value) {
  for (int k = 0; k < 4; ++k) file[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

std::size_t RoundUpTo8(std::size_t value) { return (value + 7) & ~std::size_t{7}; }

struct CertificateTable {
  std::size_t directoryEntry;  // file offset of the security directory's (offset, size)
  std::size_t start;
  std::size_t size;
};

// The file offset of a PE file's optional header, when the file is one.
std::optional<std::size_t> OptionalHeaderOffset(const std::vector<std::uint8_t>& file) {
  if (Read16(file, 0) != 0x5A4D) return std::nullopt;  // "MZ"
  const auto peOffset = Read32(file, 0x3C);
  if (!peOffset || Read32(file, *peOffset) != 0x00004550) return std::nullopt;  // "PE\0\0"
  // The signature, then the 20-byte COFF header.
  return std::size_t{*peOffset} + 4 + 20;
}

// The certificate table of a PE file, when it has one that ends the file.
std::optional<CertificateTable> FinalCertificateTable(const std::vector<std::uint8_t>& file) {
  const auto optionalHeader = OptionalHeaderOffset(file);
  if (!optionalHeader) return std::nullopt;
  const auto optionalHeaderSize = Read16(file, *optionalHeader - 4);
  const auto magic = Read16(file, *optionalHeader);
  if (!optionalHeaderSize || !magic) return std::nullopt;
  // The data directories follow the PE32 (0x10B) or PE32+ (0x20B) fields.
  std::size_t directories;
  if (*magic == 0x10B) {
    directories = 96;
  } else if (*magic == 0x20B) {
    directories = 112;
  } else {
    return std::nullopt;
  }
  const auto directoryCount = Read32(file, *optionalHeader + directories - 4);
  const std::size_t entry = directories + 8 * kSecurityDirectoryIndex;
  if (!directoryCount || *directoryCount <= kSecurityDirectoryIndex || entry + 8 > *optionalHeaderSize) {
    return std::nullopt;
  }
  const auto start = Read32(file, *optionalHeader + entry);
  const auto size = Read32(file, *optionalHeader + entry + 4);
  if (!start || !size || *size == 0 || std::size_t{*start} + *size != file.size()) return std::nullopt;
  return CertificateTable{*optionalHeader + entry, *start, *size};
}

// A PE file's CheckSum covers the whole file, so a tag changes it. Signing
// tools set it; a stale one makes verifiers warn. Left alone when zero (not
// used). The Authenticode hash skips this field.
void UpdatePeChecksum(std::vector<std::uint8_t>& file) {
  const auto optionalHeader = OptionalHeaderOffset(file);
  if (!optionalHeader) return;
  const std::size_t field = *optionalHeader + 64;
  const auto current = Read32(file, field);
  if (!current || *current == 0) return;
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < file.size(); at += 2) {
    if (at == field || at == field + 2) continue;
    sum += *Read16Padded(file, at);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  Write32(file, field, sum + file.size());
}

[[noreturn]] void RejectTable(const std::string& reason) {
  throw ToolError(kExitOperationalError, "malformed Authenticode certificate table: " + reason);
}

// The offset of the table's last WIN_CERTIFICATE record. Records are 8-byte
// aligned; anything after the last record's dwLength must be zero padding.
std::size_t LastCertificateRecord(const std::vector<std::uint8_t>& file, const CertificateTable& table) {
  const std::size_t end = table.start + table.size;
  std::size_t record = table.start;
  for (;;) {
    const auto length = Read32(file, record);
    if (!length || *length < kCertificateHeaderSize || *length > end - record) {
      RejectTable("record at " + std::to_string(record) + " has length " +
                  (length ? std::to_string(*length) : std::string("(cut off)")) + ", table ends at " +
                  std::to_string(end));
    }
    const std::size_t next = RoundUpTo8(record + *length - table.start) + table.start;
    if (next >= end) {
      for (std::size_t at = record + *length; at < end; ++at) {
        if (file[at] != 0) RejectTable("non-zero byte after the last record at " + std::to_string(at));
      }
      return record;
    }
    record = next;
  }
}

}  // namespace

bool RemoveSignedTrailer(std::vector<std::uint8_t>& file, const TagKey& key) {
  if (file.size() < kTrailerSize || !IsTrailerSigned(file.data() + file.size() - kTrailerSize, key)) {
    return false;
  }
  if (const auto table = FinalCertificateTable(file)) {
    const std::size_t record = LastCertificateRecord(file, *table);
    const std::uint32_t length = *Read32(file, record);
    if (record + length == file.size() && length >= kCertificateHeaderSize + kTrailerSize) {
      Write32(file, record, length - kTrailerSize);
      Write32(file, table->directoryEntry + 4, table->size - kTrailerSize);
    }
  }
  file.resize(file.size() - kTrailerSize);
  return true;
}

TrailerPlacement PlaceTrailer(std::vector<std::uint8_t>& file, const Trailer& trailer) {
  const auto table = FinalCertificateTable(file);
  if (!table) {
    file.insert(file.end(), trailer.begin(), trailer.end());
    UpdatePeChecksum(file);
    return TrailerPlacement::kAppended;
  }
  const std::size_t record = LastCertificateRecord(file, *table);
  const std::size_t paddedLength = RoundUpTo8(*Read32(file, record));
  const std::size_t newLength = paddedLength + kTrailerSize;
  const std::size_t newTableSize = record + newLength - table->start;
  if (newTableSize > 0xFFFFFFFFu) RejectTable("table would exceed 4 GiB");
  file.resize(record + paddedLength, 0);
  file.insert(file.end(), trailer.begin(), trailer.end());
  Write32(file, record, newLength);
  Write32(file, table->directoryEntry + 4, newTableSize);
  UpdatePeChecksum(file);
  return TrailerPlacement::kInCertificateRecord;
}
