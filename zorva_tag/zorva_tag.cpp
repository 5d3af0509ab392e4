// zorva-tag: writes and reads the signed setup tag of Zorva Setup copies.
// Reading uses the program's own verification and payload walk.
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf16_string.h"
#include "tag/tag_trailer.h"
#include "tools/installer_pin.h"
#include "tools/pe_layout.h"
#include "tools/pkcs11_signer.h"
#include "tools/tag_files.h"
#include "tools/tag_keys.h"
#include "tools/tag_payload.h"
#include "tools/tag_placement.h"
#include "tools/tag_signer.h"
#include "tools/tag_urls.h"
#include "tools/tool_error.h"
#include "zorva_tag/serve_command.h"

namespace {

constexpr char kUsage[] =
    "usage: zorva-tag sign --key KEY [--key-passphrase-env NAME] [--key-pin-env NAME]\n"
    "                      [--public-key PUBLIC.pem] [--headline TEXT] [--launch-argument TEXT]\n"
    "                      [--download-url URL] [--installer FILE | --installer-sha256 HEX]\n"
    "                      [--failure-text TEXT] [--hint TEXT] [--cancel-question TEXT]\n"
    "                      [--cancel-title TEXT] [--mirror URL]... [--fallback-page URL]\n"
    "                      [--fallback-text TEXT] [--ping-url URL] [--texts-language TAG]\n"
    "                      INPUT OUTPUT\n"
    "       zorva-tag show [--public-key PUBLIC.pem] FILE\n"
    "       zorva-tag make-key --key PKCS11-URI --key-pin-env NAME --public-out PUBLIC.pem\n"
    "       zorva-tag serve --config FILE\n"
    "\n"
    "KEY   a PEM private key file, or a key inside a PKCS #11 token named by a URI\n"
    "      such as pkcs11:token=zorva;object=tag-key?module-path=/path/to/module.so\n"
    "      (the token's, slot's and library's attributes; object, id, type). A\n"
    "      token key takes its PIN from the environment variable NAME of\n"
    "      --key-pin-env, and its public half from the token's public key object,\n"
    "      or from --public-key where the token has none.\n"
    "sign  writes a copy of INPUT ending in a setup tag signed with KEY\n"
    "      (RSA-2048, exponent 65537). Texts are UTF-8; an empty TEXT gives a\n"
    "      present, empty field. No text may hold a control character, and the\n"
    "      launch argument no double quote and no backslash at its end.\n"
    "      --failure-text, --hint, --cancel-question and --cancel-title replace\n"
    "      the splash's download failure headline, its two-line hint, and the\n"
    "      cancel question and its box's title; absent, the built-in English.\n"
    "      The hint may hold one line break, written \\n (a real one works too);\n"
    "      \\\\ is a backslash, and any other backslash is refused. An\n"
    "      encrypted key takes its passphrase from the environment variable NAME;\n"
    "      nothing prompts. A tag at the end of INPUT that verifies with the key\n"
    "      is replaced, not stacked. INPUT and OUTPUT may be the same file; an\n"
    "      OUTPUT that is a link has its target replaced. The copy is written as\n"
    "      .zorva-tag-*.tmp beside it and renamed into place once its tag verifies.\n"
    "      In an Authenticode-signed INPUT the tag goes inside the signature, as\n"
    "      its last unsigned attribute, and ends the PKCS #7 blob, the certificate\n"
    "      record and the file: the signature still verifies, also where Windows\n"
    "      checks strictly (EnableCertPaddingCheck). A tag that earlier versions\n"
    "      put after the blob is moved inside.\n"
    "      --installer FILE (its SHA-256) or --installer-sha256 HEX pins the\n"
    "      installer: #sha256=<64 hex digits> is appended to --download-url, which\n"
    "      must be given and have no fragment. The program then runs only an\n"
    "      installer with that SHA-256 and shows its download failure otherwise.\n"
    "      The pin holds for the whole copy: its mirrors too.\n"
    "      --mirror URL (at most twice) adds a URL of the same installer, tried\n"
    "      after the download URL in the order given. A mirror is http:// or\n"
    "      https://, may repeat the download URL's pin but carry no other, and is\n"
    "      plain http:// only in a pinned copy. --fallback-page URL (http:// or\n"
    "      https://) is offered as a link after a failure; --fallback-text TEXT\n"
    "      is its text (absent, the built-in \"DOWNLOAD THE FULL INSTALLER\").\n"
    "      --ping-url URL (http:// or https://, no fragment) receives one ping at\n"
    "      the end of each run (see README.md); without it nothing is sent.\n"
    "      --texts-language TAG names the language of the texts (BCP 47, as de\n"
    "      or pt-BR). URLs other than the download URL are ASCII without spaces\n"
    "      (percent-encode the rest). An unpinned http:// download URL and an\n"
    "      http:// ping URL are warned of.\n"
    "show  prints whether the last 1024 bytes of FILE verify (with PUBLIC.pem, or\n"
    "      the key built into this tool, which is the one the program accepts),\n"
    "      the SHA-256 of that key's DER SubjectPublicKeyInfo, where those bytes\n"
    "      lie (appended, after the signature blob, inside the signature), and\n"
    "      each field as absent, empty or its text on one line: control\n"
    "      characters are shown escaped (\\n, \\t, \\x1b, ...) and a backslash as\n"
    "      \\\\. A pinned download URL adds the line \"installer SHA-256: <hex>\",\n"
    "      and each mirror a line \"mirror: ...\".\n"
    "      It warns when FILE is an exe that accepts the development key.\n"
    "make-key  generates an RSA-2048 key pair (exponent 65537) inside the token,\n"
    "      labelled by the URI's object (and id, if given); the private half is\n"
    "      sensitive and never leaves the token. Writes the public half to\n"
    "      PUBLIC.pem, the key a release compiles in, and prints its SHA-256.\n"
    "serve runs the tagging service that FILE (TOML) configures: each download\n"
    "      of a campaign gets a copy of its exe with a freshly signed tag, its\n"
    "      fields filled from checked query parameters. SIGHUP reloads FILE,\n"
    "      SIGTERM drains and exits 0. See README.md, \"Serving tags\".\n"
    "\n"
    "exit status: 0 done, 1 a file, key, token or tag that cannot be used, 2 a bad command line\n";

constexpr TagKeyOptionNames kKeyOptionNames{"--key-passphrase-env", "--key-pin-env", "--public-key"};

[[noreturn]] void UsageError(const std::string& message) {
  throw ToolError(kExitUsageError, message + " (zorva-tag --help for usage)");
}

// Takes the value of an option at argv[index], moving past it.
std::string OptionValue(int argc, char** argv, int& index) {
  const std::string option = argv[index];
  if (index + 1 >= argc) UsageError(option + " needs a value");
  return argv[++index];
}

// A line break is hard to type in a shell argument: --hint writes it as \n,
// and a backslash itself as \\. Any other escape is refused rather than
// guessed at.
std::string HintOfArgument(const std::string& argument) {
  std::string hint;
  for (std::size_t at = 0; at < argument.size(); ++at) {
    if (argument[at] != '\\') {
      hint += argument[at];
    } else if (at + 1 < argument.size() && argument[at + 1] == 'n') {
      hint += '\n', ++at;
    } else if (at + 1 < argument.size() && argument[at + 1] == '\\') {
      hint += '\\', ++at;
    } else {
      UsageError("--hint: backslash at byte " + std::to_string(at) +
                 " starts neither \\n (a line break) nor \\\\ (a backslash)");
    }
  }
  return hint;
}

// The promise of a successful `sign`: the copy ends in a tag that verifies.
void RequireWrittenTagVerifies(const OutputFile& output, const TagKey& key, const std::string& path) {
  Trailer written;
  output.ReadBackEnd(written.data(), written.size());
  if (!IsTrailerSigned(written.data(), key)) {
    throw ToolError(kExitOperationalError, path + ": the written tag does not verify; the copy was not kept");
  }
}

int Sign(int argc, char** argv) {
  TagKeySource keySource;
  TagTexts texts;
  InstallerPinSource pinSource;
  std::vector<std::string> files;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--key") {
      keySource.key = OptionValue(argc, argv, i);
    } else if (argument == "--key-passphrase-env") {
      keySource.passphraseVariable = OptionValue(argc, argv, i);
    } else if (argument == "--key-pin-env") {
      keySource.pinVariable = OptionValue(argc, argv, i);
    } else if (argument == "--public-key") {
      keySource.publicKeyPath = OptionValue(argc, argv, i);
    } else if (argument == "--headline") {
      texts.headline = OptionValue(argc, argv, i);
    } else if (argument == "--launch-argument") {
      texts.launchArgument = OptionValue(argc, argv, i);
    } else if (argument == "--download-url") {
      texts.downloadUrl = OptionValue(argc, argv, i);
    } else if (argument == "--failure-text") {
      texts.failureText = OptionValue(argc, argv, i);
    } else if (argument == "--hint") {
      texts.hint = HintOfArgument(OptionValue(argc, argv, i));
    } else if (argument == "--cancel-question") {
      texts.cancelQuestion = OptionValue(argc, argv, i);
    } else if (argument == "--cancel-title") {
      texts.cancelTitle = OptionValue(argc, argv, i);
    } else if (argument == "--mirror") {
      if (texts.mirrorUrls.size() == kTagMirrorLimit) {
        UsageError("--mirror: at most " + std::to_string(kTagMirrorLimit) + " mirrors");
      }
      texts.mirrorUrls.push_back(OptionValue(argc, argv, i));
    } else if (argument == "--fallback-page") {
      texts.fallbackPage = OptionValue(argc, argv, i);
    } else if (argument == "--fallback-text") {
      texts.fallbackText = OptionValue(argc, argv, i);
    } else if (argument == "--ping-url") {
      texts.pingUrl = OptionValue(argc, argv, i);
    } else if (argument == "--texts-language") {
      texts.textsLanguage = OptionValue(argc, argv, i);
    } else if (argument == "--installer") {
      pinSource.installerPath = OptionValue(argc, argv, i);
    } else if (argument == "--installer-sha256") {
      pinSource.installerSha256 = OptionValue(argc, argv, i);
    } else if (argument.starts_with("--")) {
      UsageError("unknown option " + argument);
    } else {
      files.push_back(argument);
    }
  }
  if (keySource.key.empty()) UsageError("sign needs --key KEY");
  if (files.size() != 2) UsageError("sign needs INPUT and OUTPUT");
  if (const auto mismatch = MismatchedKeyOptions(keySource, kKeyOptionNames)) UsageError(*mismatch);
  RequireNoMalformedPin(texts.downloadUrl);
  texts.downloadUrl = PinnedDownloadUrl(texts.downloadUrl, pinSource);
  const TagPayload payload = BuildTagPayload(texts);
  RequireSoundTagUrls(texts);
  const std::unique_ptr<TagSigner> signer = OpenTagSigner(keySource);
  const TagKey& tagKey = signer->PublicKey();
  const InputFile input(files[0]);
  const Trailer trailer = AssembleTrailer(signer->Sign(payload.data(), payload.size()), payload);
  TrailerPlacement placement{};
  ReplaceFile(files[1], input.Mode(), [&](OutputFile& output) {
    placement = WriteTaggedCopy(input, tagKey, trailer, output);
    RequireWrittenTagVerifies(output, tagKey, files[1]);
  });
  for (const std::string& warning : TagUrlWarnings(texts)) std::cerr << "zorva-tag: warning: " << warning << "\n";
  if (placement == TrailerPlacement::kInSignature) {
    std::cerr << "zorva-tag: notice: " << files[0]
              << " is Authenticode-signed; the tag is the last unsigned attribute of its signature, which "
                 "still verifies, also where Windows checks strictly (EnableCertPaddingCheck)\n";
  }
  return 0;
}

// A field shown raw could end its line and forge the next, or drive the
// terminal: control characters (C0, DEL, C1) are shown as escapes, and a
// backslash as two, so that each field is one unambiguous line.
std::string EscapedForTerminal(std::string_view text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string shown;
  for (std::size_t at = 0; at < text.size(); ++at) {
    unsigned char byte = static_cast<unsigned char>(text[at]);
    // A C1 control, U+0080 to U+009F, is C2 80 to C2 9F in UTF-8.
    const bool c1 = byte == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if (c1) byte = static_cast<unsigned char>(text[++at]);
    if (byte == '\\') {
      shown += "\\\\";
    } else if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if (byte == '\t') {
      shown += "\\t";
    } else if (byte < 0x20 || byte == 0x7F || c1) {
      shown += std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 0xF];
    } else {
      shown += static_cast<char>(byte);
    }
  }
  return shown;
}

void PrintAsciiField(const char* name, const char* text) {
  std::cout << name << ": ";
  if (text == nullptr) {
    std::cout << "absent\n";
  } else if (*text == 0) {
    std::cout << "empty\n";
  } else {
    std::cout << '"' << EscapedForTerminal(text) << "\"\n";
  }
}

void PrintField(const char* name, const char16_t* text) {
  std::cout << name << ": ";
  if (text == nullptr) {
    std::cout << "absent\n";
  } else if (ReadUtf16Unit(text, 0) == 0) {
    std::cout << "empty\n";
  } else {
    std::cout << '"' << EscapedForTerminal(Utf8OfTagString(text)) << "\"\n";
  }
}

// Where the last 1024 bytes lie. A signature that cannot be read does not
// keep `show` from showing the tag.
std::string PlacementText(const ByteSource& file, const TagKey& key) {
  try {
    const auto placement = LocateTrailer(file, key);
    if (!placement) return "none (the last 1024 bytes are part of the Authenticode signature)";
    switch (*placement) {
      case TrailerPlacement::kAppended:
        return "appended";
      case TrailerPlacement::kAfterSignatureBlob:
        return "after the signature blob (Windows' strict check refuses it; sign again to move it inside)";
      case TrailerPlacement::kInSignature:
        return "inside the signature";
    }
  } catch (const ToolError& error) {
    return std::string("unknown (") + error.what() + ")";
  }
  return "unknown";
}

// The compiled-in key is a constant in the exe's data, its modulus 64
// little-endian words.
bool AcceptsDevelopmentKey(const ByteSource& file) {
  std::uint8_t modulus[kSignatureSize];
  for (int i = 0; i < kNumberWords; ++i) StoreU32(modulus + 4 * i, DevelopmentPublicTagKey().modulus[i]);
  return ImageDataContains(file, modulus, sizeof modulus);
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
  const InputFile file(files[0]);
  std::cout << "public key SHA-256: " << fingerprint << "\n";
  TagFields fields{};
  Trailer trailer;
  if (file.Size() < kTrailerSize) {
    std::cout << "signature: none (the file is shorter than " << kTrailerSize << " bytes)\n";
  } else {
    file.Fetch(file.Size() - kTrailerSize, trailer.data(), trailer.size());
    const bool verified = IsTrailerSigned(trailer.data(), tagKey);
    std::cout << "signature: " << (verified ? "verified" : "not verified") << "\n";
    std::cout << "placement: " << PlacementText(file, tagKey) << "\n";
    fields = ParseSetupTag(trailer.data(), tagKey);
  }
  PrintField("headline", fields.headline);
  PrintField("launch argument", fields.launchArgument);
  PrintField("download URL", fields.downloadUrl);
  const std::string pinLine = InstallerPinLine(fields.downloadUrl);
  if (!pinLine.empty()) std::cout << pinLine << "\n";
  for (const char* mirror : fields.mirrorUrls) {
    if (mirror != nullptr) PrintAsciiField("mirror", mirror);
  }
  PrintField("failure text", fields.failureText);
  PrintField("hint", fields.hint);
  PrintField("cancel question", fields.cancelQuestion);
  PrintField("cancel title", fields.cancelTitle);
  PrintAsciiField("fallback page", fields.fallbackPage);
  PrintField("fallback text", fields.fallbackText);
  PrintAsciiField("ping URL", fields.pingUrl);
  PrintAsciiField("texts language", fields.textsLanguage);
  if (AcceptsDevelopmentKey(file)) {
    std::cerr << "zorva-tag: warning: " << files[0]
              << " accepts tags signed with the development key, whose private half is published: "
                 "anyone can give it a download URL; do not distribute it\n";
  }
  return 0;
}

int MakeKey(int argc, char** argv) {
  TagKeySource keySource;
  std::string publicOut;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--key") {
      keySource.key = OptionValue(argc, argv, i);
    } else if (argument == "--key-pin-env") {
      keySource.pinVariable = OptionValue(argc, argv, i);
    } else if (argument == "--public-out") {
      publicOut = OptionValue(argc, argv, i);
    } else {
      UsageError("unknown option " + argument);
    }
  }
  if (!IsTokenKey(keySource.key)) UsageError("make-key needs --key PKCS11-URI");
  if (publicOut.empty()) UsageError("make-key needs --public-out PUBLIC.pem");
  const Pkey key = MakePkcs11TagKey(keySource);
  const std::string pem = PublicKeyPem(key.get());
  ReplaceFile(publicOut, 0644, [&](OutputFile& output) {
    output.Append(reinterpret_cast<const std::uint8_t*>(pem.data()), pem.size());
  });
  const auto digest = PublicKeyDerSha256(key.get());
  std::cout << "public key SHA-256: " << HexOf(digest.data(), digest.size()) << "\n";
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
    if (command == "make-key") return MakeKey(argc, argv);
    if (command == "serve") return RunServe(argc, argv);
    UsageError(command.empty() ? "no command given" : "unknown command " + command);
  } catch (const ToolError& error) {
    std::cerr << "zorva-tag: " << error.what() << "\n";
    return error.exitCode;
  } catch (const std::bad_alloc&) {
    std::cerr << "zorva-tag: out of memory\n";
    return kExitOperationalError;
  }
}
