// What the tagging tool needs to know of a PE file: where its checksum and
// security directory are, where its headers and section data end, and its
// Authenticode certificate table, each checked against the file's bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/byte_source.h"

struct PeLayout {
  std::uint64_t checksumField;  // file offset of the optional header's CheckSum
  std::uint32_t checksum;
  // File offset of the security directory's (offset, size) pair, when the
  // optional header has one.
  std::optional<std::uint64_t> securityEntry;
  std::uint32_t tableStart;
  std::uint32_t tableSize;  // 0: no certificate table
  std::uint64_t headersEnd;   // after SizeOfHeaders and the section table
  std::uint64_t sectionsEnd;  // after the last section's raw data
};

// The layout of a PE32 or PE32+ file whose headers and section table lie
// wholly before the cursor's end; nothing for any other file.
std::optional<PeLayout> ReadPeLayout(const ByteCursor& file);

constexpr std::uint64_t kCertificateHeaderSize = 8;  // dwLength, wRevision, wCertificateType

struct CertificateTable {
  std::uint64_t start;
  std::uint64_t size;
  std::uint64_t lastRecord;  // file offset of the last WIN_CERTIFICATE
  std::uint64_t lastRecordLength;
};

// The layout's certificate table, walked record by record. Throws ToolError
// (operational) unless it starts after the headers and section data, lies
// wholly before the cursor's end, and holds 8-byte aligned PKCS #7 records
// (revision 0x0200, type 2) whose lengths add up to it, zero padding aside.
CertificateTable ReadCertificateTable(const ByteCursor& file, const PeLayout& layout);

// True when `file` is a PE file whose headers or section data, read in
// pieces, hold `pattern`.
bool ImageDataContains(const ByteSource& file, const std::uint8_t* pattern, std::size_t size);

[[noreturn]] void RejectCertificateTable(const std::string& reason);

// Records start 8-byte aligned from the record before.
inline std::uint64_t RoundUpTo8(std::uint64_t value) { return (value + 7) & ~std::uint64_t{7}; }
