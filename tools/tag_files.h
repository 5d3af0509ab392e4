// The tagging tool's files: inputs read in place through pread, outputs
// written beside their target and renamed over it, never left half-written.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "tools/byte_source.h"

// A regular file opened for reading. Anything else (a FIFO, a device, a
// folder) is refused without blocking. Throws ToolError (operational).
class InputFile : public ByteSource {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::uint64_t Size() const override { return size_; }
  void Fetch(std::uint64_t offset, std::uint8_t* out, std::size_t count) const override;
  mode_t Mode() const { return mode_; }

 private:
  std::string path_;
  int descriptor_;
  std::uint64_t size_;
  mode_t mode_;
};

// The whole of a small file, such as a key; a larger one is refused.
std::string ReadSmallFile(const std::string& path, std::size_t limit);

class OutputFile : public ByteSink {
 public:
  OutputFile(const std::string& path, int descriptor) : path_(path), descriptor_(descriptor) {}
  void Append(const std::uint8_t* bytes, std::size_t count) override;
  void Overwrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) override;
  // Reads back the last `count` bytes written.
  void ReadBackEnd(std::uint8_t* out, std::size_t count) const;

 private:
  std::string path_;
  int descriptor_;
  std::uint64_t size_ = 0;
};

// Writes a new `path` through `write` and puts it in place only once `write`
// returns. Through a link, the link's target is replaced. The new file has the
// permission bits `mode`.
void ReplaceFile(const std::string& path, mode_t mode, const std::function<void(OutputFile&)>& write);
