// Untrusted bytes read piecewise and written out as a stream: the tool reads
// files through pread and never holds a whole copy; the fuzzer uses memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Fills `out` with `count` bytes from `offset`; the range lies inside Size().
  virtual void Fetch(std::uint64_t offset, std::uint8_t* out, std::size_t count) const = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Append(const std::uint8_t* bytes, std::size_t count) = 0;
  // Replaces bytes already appended.
  virtual void Overwrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) = 0;
};

// Bytes already in memory, not owned: the fuzzer's input, the service's copy
// of an exe. A Fetch outside them aborts: the callers bound their reads, so
// one that does not is a fault to stop at.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  void Fetch(std::uint64_t offset, std::uint8_t* out, std::size_t count) const override;

 private:
  std::span<const std::uint8_t> bytes_;
};

class MemorySink : public ByteSink {
 public:
  void Append(const std::uint8_t* bytes, std::size_t count) override;
  void Overwrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) override;
  std::vector<std::uint8_t> bytes;
};

// Little-endian reads of a source up to `end`; a read that does not lie wholly
// before `end` fails instead of reading.
class ByteCursor {
 public:
  ByteCursor(const ByteSource& source, std::uint64_t end);

  std::uint64_t End() const { return end_; }
  bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t count) const;
  std::optional<std::uint16_t> U16(std::uint64_t offset) const;
  std::optional<std::uint32_t> U32(std::uint64_t offset) const;
  // The first byte in [from, to) that is not zero, or cannot be read.
  std::optional<std::uint64_t> FirstNonZero(std::uint64_t from, std::uint64_t to) const;

 private:
  const ByteSource& source_;
  std::uint64_t end_;
};

// A piece of a copy: `bytes` when it holds any, else `size` bytes of the
// source from `offset`.
struct CopyPiece {
  std::uint64_t offset;
  std::uint64_t size;
  std::vector<std::uint8_t> bytes;

  std::uint64_t Length() const { return bytes.empty() ? size : bytes.size(); }
};

void StoreU32(std::uint8_t* out, std::uint32_t value);
