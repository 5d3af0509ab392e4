#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/memory_bytes.h"
#include "tools/signature_attribute.h"
#include "tools/tool_error.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes bytes;
  for (const Bytes& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

Bytes Der(std::uint8_t tag, const Bytes& content) { return Cat({DerHeader(tag, content.size()), content}); }

const Bytes kSignedDataType = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

// What Authenticode signs, with placeholder contents of the given sizes.
struct BlobShape {
  std::size_t certificates = 16;
  std::size_t signature = 256;
  std::uint8_t signatureTag = 0x04;
  std::optional<Bytes> unsignedAttributes = std::nullopt;
  std::uint8_t unsignedTag = 0xA1;
  int signers = 1;
  Bytes contentType = kSignedDataType;
};

Bytes Blob(const BlobShape& shape) {
  const Bytes signer = Der(0x30, Cat({Der(0x02, {1}), Der(0x30, {}), Der(0x30, {}), Der(0x30, {}),
                                      Der(shape.signatureTag, Bytes(shape.signature, 0x5A)),
                                      shape.unsignedAttributes ? Der(shape.unsignedTag, *shape.unsignedAttributes)
                                                               : Bytes{}}));
  Bytes signers;
  for (int i = 0; i < shape.signers; ++i) signers = Cat({signers, signer});
  const Bytes signedData = Der(0x30, Cat({Der(0x02, {1}), Der(0x31, {}), Der(0x30, {}),
                                          Der(0xA0, Bytes(shape.certificates, 0xCE)), Der(0x31, signers)}));
  return Der(0x30, Cat({shape.contentType, Der(0xA0, signedData)}));
}

// An unsigned attribute of another type with a value of `size` bytes.
Bytes OtherAttribute(std::size_t size) {
  return Der(0x30, Cat({Der(0x06, {0x2A, 0x03}), Der(0x31, Der(0x04, Bytes(size, 0x11)))}));
}

Trailer PatternTrailer() {
  Trailer trailer;
  for (std::size_t i = 0; i < trailer.size(); ++i) trailer[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return trailer;
}

SignatureBlob Read(const MemorySource& source) {
  return ReadSignatureBlob(ByteCursor(source, source.Size()), 0, source.Size());
}

Bytes WithTag(const Bytes& blob, const Trailer& trailer = PatternTrailer()) {
  const MemorySource source(blob);
  return Materialized(source, BlobWithTagAttribute(Read(source), trailer));
}

Bytes WithoutTag(const Bytes& blob) {
  const MemorySource source(blob);
  return Materialized(source, BlobWithoutTagAttribute(Read(source)));
}

Bytes TagAttributeOf(const Bytes& blob) {
  const MemorySource source(blob);
  const DerElement attribute = *Read(source).tagAttribute;
  return Bytes(blob.begin() + static_cast<std::ptrdiff_t>(attribute.start),
               blob.begin() + static_cast<std::ptrdiff_t>(attribute.end));
}

TEST(SignatureAttribute, DerHeadersAtEachLengthOfLength) {
  const std::pair<std::uint64_t, Bytes> cases[] = {
      {0, {0x30, 0x00}},
      {127, {0x30, 0x7F}},
      {128, {0x30, 0x81, 0x80}},
      {255, {0x30, 0x81, 0xFF}},
      {256, {0x30, 0x82, 0x01, 0x00}},
      {65535, {0x30, 0x82, 0xFF, 0xFF}},
      {65536, {0x30, 0x83, 0x01, 0x00, 0x00}},
      {1u << 24, {0x30, 0x84, 0x01, 0x00, 0x00, 0x00}},
  };
  for (const auto& [length, header] : cases) EXPECT_EQ(DerHeader(0x30, length), header) << length;
}

// Around sizes where the tag attribute pushes an enclosing length past 65535,
// so that its length octets grow while the filler is chosen.
struct BoundaryCase {
  const char* name;
  std::function<Bytes(std::size_t)> blob;
  std::size_t from, to;
  std::function<std::uint64_t(const SignatureBlob&)> watchedHeader;
};

TEST(SignatureAttribute, BlobIsAlignedAndRestoredAcrossLengthBoundaries) {
  const auto headerOf = [](const DerElement& element) { return element.contentStart - element.start; };
  const BoundaryCase cases[] = {
      {"ContentInfo", [](std::size_t n) { return Blob({.certificates = n}); }, 64000, 64400,
       [&](const SignatureBlob& blob) { return headerOf(blob.enclosing[0]); }},
      {"SignerInfo", [](std::size_t n) { return Blob({.signature = n}); }, 64200, 64600,
       [&](const SignatureBlob& blob) { return headerOf(blob.enclosing[4]); }},
      {"unsigned attributes", [](std::size_t n) { return Blob({.unsignedAttributes = OtherAttribute(n)}); },
       64200, 64600, [&](const SignatureBlob& blob) { return headerOf(*blob.unsignedAttributes); }},
  };
  const Trailer trailer = PatternTrailer();
  for (const BoundaryCase& test : cases) {
    std::set<std::uint64_t> headerSizes;
    for (std::size_t n = test.from; n < test.to; ++n) {
      const Bytes original = test.blob(n);
      const Bytes tagged = WithTag(original, trailer);
      ASSERT_EQ(tagged.size() % 8, 0u) << test.name << " " << n;
      ASSERT_TRUE(std::equal(trailer.begin(), trailer.end(), tagged.end() - kTrailerSize)) << test.name << " " << n;
      const MemorySource source(tagged);
      const SignatureBlob reread = Read(source);
      ASSERT_TRUE(reread.EndsInTagAttribute() && reread.End() == tagged.size()) << test.name << " " << n;
      ASSERT_EQ(WithoutTag(tagged), original) << test.name << " " << n;
      headerSizes.insert(test.watchedHeader(reread));
    }
    EXPECT_EQ(headerSizes, (std::set<std::uint64_t>{4, 5})) << test.name << ": the sizes miss the boundary";
  }
}

TEST(SignatureAttribute, OtherAttributesStayAndTheTagMovesLast) {
  const Bytes other = OtherAttribute(40);
  const Bytes tagAttribute = TagAttributeOf(WithTag(Blob({})));
  const Bytes tagFirst = Blob({.unsignedAttributes = Cat({tagAttribute, other})});
  const Bytes expected = WithTag(Blob({.unsignedAttributes = other}));
  EXPECT_EQ(WithoutTag(tagFirst), Blob({.unsignedAttributes = other}));
  EXPECT_EQ(WithTag(tagFirst), expected);
  EXPECT_EQ(WithTag(expected), expected);
  EXPECT_EQ(WithoutTag(Blob({.unsignedAttributes = tagAttribute})), Blob({}));
}

TEST(SignatureAttribute, RefusesWhatAuthenticodeDoesNotSign) {
  const Bytes good = Blob({});
  Bytes highTag = good;
  highTag[0] = 0x3F;
  Bytes notSignedData = kSignedDataType;
  notSignedData.back() = 0x01;
  const Bytes tagAttribute = TagAttributeOf(WithTag(good));
  Bytes manyAttributes;
  for (int i = 0; i < 100; ++i) manyAttributes = Cat({manyAttributes, OtherAttribute(0)});
  // The command-line tests refuse an indefinite length, a blob longer than
  // its record and two SignerInfos in a real signature.
  const std::pair<Bytes, std::string> cases[] = {
      {highTag, "a multi-octet tag at 0"},
      {Cat({{0x30, 0x89}, Bytes(9, 0), good}), "a length of 9 octets at 0"},
      {Blob({.contentType = notSignedData}), "the ContentInfo at 0 is not PKCS #7 signedData"},
      {Blob({.signers = 0}), "holds 0 elements, not 1"},
      {Blob({.unsignedAttributes = manyAttributes}), "holds more than 65 elements, not 0 to 64"},
      {Blob({.unsignedAttributes = Bytes{}, .unsignedTag = 0x30}), "last element at "},
      // Found by the placement fuzzer: taking the tag out again would leave
      // a SignerInfo that ends in no signature.
      {Blob({.signatureTag = 0x00, .unsignedAttributes = Bytes{}}), "the SignerInfo's signature at "},
      {Blob({.unsignedAttributes = Der(0x04, {})}), "an unsigned attribute at "},
      {Blob({.unsignedAttributes = Cat({tagAttribute, tagAttribute})}), "a second tag attribute at "},
  };
  for (const auto& [blob, message] : cases) {
    const MemorySource source(blob);
    try {
      Read(source);
      ADD_FAILURE() << message << ": accepted";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exitCode, kExitOperationalError);
      EXPECT_EQ(std::string(error.what()).rfind("malformed Authenticode signature: ", 0), 0u) << error.what();
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
