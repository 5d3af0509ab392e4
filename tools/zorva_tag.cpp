// zorva-tag: writes and reads the signed setup tag of Zorva Setup copies.
// Reading uses the program's own verification and payload walk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tag/tag_string.h"
#include "tag/tag_trailer.h"
#include "tools/tag_keys.h"
#include "tools/tag_payload.h"
#include "tools/tag_placement.h"
#include "tools/tool_error.h"

namespace {

constexpr char kUsage[] =
    "usage: zorva-tag sign --key PRIVATE.pem [--headline TEXT] [--launch-argument TEXT]\n"
    "                      [--download-url URL] INPUT OUTPUT\n"
    "       zorva-tag show [--public-key PUBLIC.pem] FILE\n"
    "\n"
    "sign  writes a copy of INPUT ending in a setup tag signed with PRIVATE.pem\n"
    "      (RSA-2048, exponent 65537). Texts are UTF-8; an empty TEXT gives a\n"
    "      present, empty field. A tag at the end of INPUT that verifies with the\n"
    "      key is replaced, not stacked. INPUT and OUTPUT may be the same file.\n"
    "      In an Authenticode-signed INPUT the tag goes at the end of the\n"
    "      certificate record, so the signature still verifies on default\n"
    "      Windows systems. Windows rejects such a file when the optional\n"
    "      EnableCertPaddingCheck policy is switched on: data after the PKCS #7\n"
    "      blob counts as tampering there.\n"
    "show  prints whether the last 1024 bytes of FILE verify (with PUBLIC.pem, or\n"
    "      the key built into this tool, which is the one the program accepts),\n"
    "      the SHA-256 of that key's DER SubjectPublicKeyInfo, and each field as\n"
    "      absent, empty or its text.\n"
    "\n"
    "exit status: 0 done, 1 a file, key or tag that cannot be used, 2 a bad command line\n";

[[noreturn]] void UsageError(const std::string& message) {
  throw ToolError(kExitUsageError, message + " (zorva-tag --help for usage)");
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDONLY);
  if (descriptor < 0) {
    throw ToolError(kExitOperationalError, path + ": cannot open (" + std::strerror(errno) + ")");
  }
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    throw ToolError(kExitOperationalError, path + ": not a regular file");
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = read(descriptor, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      const std::string reason = n < 0 ? std::strerror(errno) : "the file shrank while read";
      close(descriptor);
      throw ToolError(kExitOperationalError, path + ": cannot read (" + reason + ")");
    }
    done += static_cast<std::size_t>(n);
  }
  close(descriptor);
  return bytes;
}

// Writes beside `path` and renames over it, so `path` is never half-written.
// The copy keeps the permission bits of `modeSource`.
void ReplaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                 const std::string& modeSource) {
  std::string temporary = path + ".zorva-tag-XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    throw ToolError(kExitOperationalError, path + ": cannot create a file beside it (" +
                                               std::strerror(errno) + ")");
  }
  struct stat source {};
  bool ok = stat(modeSource.c_str(), &source) == 0 && fchmod(descriptor, source.st_mode & 07777) == 0;
  std::size_t written = 0;
  while (ok && written < bytes.size()) {
    const ssize_t n = write(descriptor, bytes.data() + written, bytes.size() - written);
    ok = n > 0;
    if (ok) written += static_cast<std::size_t>(n);
  }
  const int savedErrno = errno;
  ok = close(descriptor) == 0 && ok;
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno ? errno : savedErrno);
    unlink(temporary.c_str());
    throw ToolError(kExitOperationalError, path + ": cannot write (" + reason + ")");
  }
}

// Takes the value of an option at argv[index], moving past it.
std::string OptionValue(int argc, char** argv, int& index) {
  const std::string option = argv[index];
  if (index + 1 >= argc) UsageError(option + " needs a value");
  return argv[++index];
}

int Sign(int argc, char** argv) {
  std::string keyPath;
  TagTexts texts;
  std::vector<std::string> files;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--key") {
      keyPath = OptionValue(argc, argv, i);
    } else if (argument == "--headline") {
      texts.headline = OptionValue(argc, argv, i);
    } else if (argument == "--launch-argument") {
      texts.launchArgument = OptionValue(argc, argv, i);
    } else if (argument == "--download-url") {
      texts.downloadUrl = OptionValue(argc, argv, i);
    } else if (argument.starts_with("--")) {
      UsageError("unknown option " + argument);
    } else {
      files.push_back(argument);
    }
  }
  if (keyPath.empty()) UsageError("sign needs --key PRIVATE.pem");
  if (files.size() != 2) UsageError("sign needs INPUT and OUTPUT");
  const TagPayload payload = BuildTagPayload(texts);
  const Pkey key = LoadPrivateTagKey(keyPath);
  std::vector<std::uint8_t> file = ReadWholeFile(files[0]);

  RemoveSignedTrailer(file, TagKeyOf(key.get()));
  const Trailer trailer = AssembleTrailer(SignWithTagKey(key.get(), payload.data(), payload.size()), payload);
  if (PlaceTrailer(file, trailer) == TrailerPlacement::kInCertificateRecord) {
    std::cerr << "zorva-tag: notice: " << files[0]
              << " is Authenticode-signed; the tag is inside its certificate record, which "
                 "Windows rejects when EnableCertPaddingCheck is on\n";
  }
  ReplaceFile(files[1], file, files[0]);
  return 0;
}

void PrintField(const char* name, const char16_t* text) {
  std::cout << name << ": ";
  if (text == nullptr) {
    std::cout << "absent\n";
  } else if (ReadTagUnit(text, 0) == 0) {
    std::cout << "empty\n";
  } else {
    std::cout << '"' << Utf8OfTagString(text) << "\"\n";
  }
}

int Show(int argc, char** argv) {
  std::string publicKeyPath;
  std::vector<std::string> files;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--public-key") {
      publicKeyPath = OptionValue(argc, argv, i);
    } else if (argument.starts_with("--")) {
      UsageError("unknown option " + argument);
    } else {
      files.push_back(argument);
    }
  }
  if (files.size() != 1) UsageError("show needs one FILE");

  TagKey tagKey = compiledTagKey;
  std::string fingerprint = HexOf(compiledTagKeyDerSha256, kKeyFingerprintSize);
  if (!publicKeyPath.empty()) {
    const Pkey key = LoadPublicTagKey(publicKeyPath);
    tagKey = TagKeyOf(key.get());
    const auto digest = PublicKeyDerSha256(key.get());
    fingerprint = HexOf(digest.data(), digest.size());
  }
  const std::vector<std::uint8_t> file = ReadWholeFile(files[0]);
  std::cout << "public key SHA-256: " << fingerprint << "\n";
  TagFields fields{};
  if (file.size() < kTrailerSize) {
    std::cout << "signature: none (the file is shorter than " << kTrailerSize << " bytes)\n";
  } else {
    const std::uint8_t* trailer = file.data() + file.size() - kTrailerSize;
    const bool verified = IsTrailerSigned(trailer, tagKey);
    std::cout << "signature: " << (verified ? "verified" : "not verified") << "\n";
    fields = ParseSetupTag(trailer, tagKey);
  }
  PrintField("headline", fields.headline);
  PrintField("launch argument", fields.launchArgument);
  PrintField("download URL", fields.downloadUrl);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << kUsage;
      return 0;
    }
    if (command == "sign") return Sign(argc, argv);
    if (command == "show") return Show(argc, argv);
    UsageError(command.empty() ? "no command given" : "unknown command " + command);
  } catch (const ToolError& error) {
    std::cerr << "zorva-tag: " << error.what() << "\n";
    return error.exitCode;
  }
}
