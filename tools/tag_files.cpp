#include "tools/tag_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tag/sha256.h"
#include "tools/tag_keys.h"
#include "tools/tool_error.h"

namespace {

[[noreturn]] void FailOn(const std::string& path, const std::string& what) {
  throw ToolError(kExitOperationalError, path + ": " + what + " (" + std::strerror(errno) + ")");
}

// The file a write to `path` replaces: a link's target, or `path` itself.
std::string ReplacedFile(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    if (errno == ENOENT) return path;
    FailOn(path, "cannot look at it");
  }
  std::string target = path;
  if (S_ISLNK(status.st_mode)) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved || stat(resolved.get(), &status) != 0) FailOn(path, "cannot follow the link");
    target = resolved.get();
  }
  if (!S_ISREG(status.st_mode)) throw ToolError(kExitOperationalError, path + ": not a regular file");
  return target;
}

// One fixed-length name per target, in the target's folder: an output name of
// any legal length still has one, and a file left by a run killed mid-write
// is taken over by the next run for the same target.
std::string TemporaryFor(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = target.substr(folder.size());
  Sha256Context context;
  context.Init();
  context.Update(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
  std::uint8_t digest[kSha256DigestSize];
  context.Final(digest);
  return folder + ".zorva-tag-" + HexOf(digest, 8) + ".tmp";
}

// The temporary, empty and locked by this run. A run that held the lock may
// have renamed it into place meanwhile; then the name is opened again.
int OpenLockedTemporary(const std::string& temporary, const std::string& target) {
  for (;;) {
    const int descriptor = open(temporary.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) FailOn(target, "cannot create a file beside it");
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
      close(descriptor);
      throw ToolError(kExitOperationalError, target + ": another zorva-tag is writing it");
    }
    struct stat opened {};
    struct stat named {};
    if (fstat(descriptor, &opened) == 0 && lstat(temporary.c_str(), &named) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
      if (ftruncate(descriptor, 0) != 0) FailOn(target, "cannot write a file beside it");
      return descriptor;
    }
    close(descriptor);
  }
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
  // Non-blocking, so that opening a FIFO returns at once and is refused below.
  descriptor_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor_ < 0) FailOn(path, "cannot open");
  struct stat status {};
  if (fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor_);
    throw ToolError(kExitOperationalError, path + ": not a regular file");
  }
  size_ = static_cast<std::uint64_t>(status.st_size);
  mode_ = status.st_mode;
}

InputFile::~InputFile() { close(descriptor_); }

void InputFile::Fetch(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
  while (count > 0) {
    const ssize_t n = pread(descriptor_, out, count, static_cast<off_t>(offset));
    if (n == 0) errno = 0;
    if (n <= 0) {
      throw ToolError(kExitOperationalError,
                      path_ + ": cannot read (" + (n < 0 ? std::strerror(errno) : "the file shrank while read") + ")");
    }
    out += n, offset += static_cast<std::uint64_t>(n), count -= static_cast<std::size_t>(n);
  }
}

std::string ReadSmallFile(const std::string& path, std::size_t limit) {
  const InputFile file(path);
  if (file.Size() > limit) {
    throw ToolError(kExitOperationalError, path + ": " + std::to_string(file.Size()) +
                                               " bytes, too large (more than " + std::to_string(limit) + ")");
  }
  std::string text(file.Size(), '\0');
  file.Fetch(0, reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  return text;
}

void OutputFile::Append(const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(descriptor_, bytes, count);
    if (n < 0) FailOn(path_, "cannot write");
    bytes += n, size_ += static_cast<std::uint64_t>(n), count -= static_cast<std::size_t>(n);
  }
}

void OutputFile::Overwrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
  if (pwrite(descriptor_, bytes, count, static_cast<off_t>(offset)) != static_cast<ssize_t>(count)) {
    FailOn(path_, "cannot write");
  }
}

void OutputFile::ReadBackEnd(std::uint8_t* out, std::size_t count) const {
  if (size_ < count ||
      pread(descriptor_, out, count, static_cast<off_t>(size_ - count)) != static_cast<ssize_t>(count)) {
    FailOn(path_, "cannot read back what was written");
  }
}

void ReplaceFile(const std::string& path, mode_t mode, const std::function<void(OutputFile&)>& write) {
  const std::string target = ReplacedFile(path);
  const std::string temporary = TemporaryFor(target);
  const int descriptor = OpenLockedTemporary(temporary, target);
  // The lock is held until the rename, so that no other run empties the
  // finished file before it is in place.
  try {
    if (fchmod(descriptor, mode & 07777) != 0) FailOn(path, "cannot write a file beside it");
    OutputFile output(path, descriptor);
    write(output);
    if (fsync(descriptor) != 0) FailOn(path, "cannot write");
    if (rename(temporary.c_str(), target.c_str()) != 0) FailOn(path, "cannot write");
  } catch (...) {
    unlink(temporary.c_str());
    close(descriptor);
    throw;
  }
  close(descriptor);
}
