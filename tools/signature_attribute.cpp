#include "tools/signature_attribute.h"

#include <iterator>
#include <string>
#include <utility>

#include "tools/tool_error.h"

namespace {

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kSet = 0x31;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kExplicit0 = 0xA0;
constexpr std::uint8_t kUnsignedAttributesTag = 0xA1;  // the SignerInfo's [1] IMPLICIT SET OF Attribute

// 1.2.840.113549.1.7.2, PKCS #7 signedData.
constexpr std::uint8_t kSignedDataType[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

// The tag attribute's type: 2.25.134080356515578132592738754755578240458,
// the arc of UUID 64deeff6-9c9c-414b-b7dd-e9505a1f1dca, drawn at random for
// Zorva Setup so that no other attribute has it.
constexpr std::uint8_t kTagAttributeType[] = {0x06, 0x14, 0x69, 0x81, 0xC9, 0xDE, 0xF7, 0xFD, 0xD3,
                                              0xC9, 0xE2, 0x85, 0x97, 0xB7, 0xEE, 0xFA, 0xAA, 0x85,
                                              0xD0, 0xFC, 0xBB, 0x4A};

// Authenticode signatures carry a few: timestamps, nested signatures, the tag.
constexpr std::size_t kMaxUnsignedAttributes = 64;

constexpr std::uint64_t kBlobAlignment = 8;
// Each byte of filler grows the blob by one, and by one more for each of the
// nine lengths from the OCTET STRING out to the ContentInfo that gains an
// octet. Every one of them holds the trailer, so gains come only where a
// length passes 2^16, 2^24, ...: at most nine in 256 steps, which leaves a
// run of eight single steps, and so a multiple of 8.
constexpr std::uint64_t kFillerLimit = 256;

[[noreturn]] void RejectSignature(const std::string& reason) {
  throw ToolError(kExitOperationalError, "malformed Authenticode signature: " + reason);
}

std::string Hex(std::uint8_t value) {
  static const char kDigits[] = "0123456789abcdef";
  return std::string("0x") + kDigits[value >> 4] + kDigits[value & 0xF];
}

void RequireTag(const DerElement& element, std::uint8_t tag, const char* what) {
  if (element.tag != tag) {
    RejectSignature(std::string(what) + " at " + std::to_string(element.start) + " has tag " + Hex(element.tag) +
                    ", not " + Hex(tag));
  }
}

// The children of `parent`, named `what`, which holds `minimum` to `maximum`
// of them in the shape Authenticode signs.
std::vector<DerElement> ChildrenOf(const DerCursor& der, const DerElement& parent, const char* what,
                                   std::size_t minimum, std::size_t maximum) {
  const DerChildren children = der.Children(parent, maximum + 1);
  if (!children.fault.empty()) RejectSignature(children.fault);
  const std::size_t count = children.elements.size();
  if (count < minimum || count > maximum) {
    const std::string expected = minimum == maximum ? std::to_string(minimum)
                                                    : std::to_string(minimum) + " to " + std::to_string(maximum);
    RejectSignature(std::string(what) + " at " + std::to_string(parent.start) + " holds " +
                    (children.more ? "more than " : "") + std::to_string(count) + " elements, not " + expected);
  }
  return children.elements;
}

bool IsTagAttribute(const DerCursor& der, const DerElement& attribute) {
  RequireTag(attribute, kSequence, "an unsigned attribute");
  const DerRead type = der.Element(attribute.contentStart, attribute.end);
  if (!type.element) RejectSignature(type.fault);
  return der.Encodes(*type.element, kTagAttributeType, sizeof kTagAttributeType);
}

void ReadUnsignedAttributes(const DerCursor& der, SignatureBlob& blob) {
  for (const DerElement& attribute :
       ChildrenOf(der, *blob.unsignedAttributes, "the unsigned attribute set", 0, kMaxUnsignedAttributes)) {
    if (!IsTagAttribute(der, attribute)) continue;
    if (blob.tagAttribute) {
      RejectSignature("a second tag attribute at " + std::to_string(attribute.start) + " after the one at " +
                      std::to_string(blob.tagAttribute->start));
    }
    blob.tagAttribute = attribute;
  }
}

// Where the SignerInfo's content before its unsigned attributes ends.
std::uint64_t SignedPartEnd(const SignatureBlob& blob) {
  return blob.unsignedAttributes ? blob.unsignedAttributes->start : blob.enclosing.back().end;
}

void AddSource(std::vector<CopyPiece>& pieces, std::uint64_t from, std::uint64_t to) {
  if (to > from) pieces.push_back({from, to - from, {}});
}

void AddBytes(std::vector<CopyPiece>& pieces, std::vector<std::uint8_t> bytes) {
  pieces.push_back({0, 0, std::move(bytes)});
}

// The unsigned attributes other than the tag's, as pieces of the source.
std::vector<CopyPiece> OtherUnsignedAttributes(const SignatureBlob& blob) {
  std::vector<CopyPiece> pieces;
  if (!blob.unsignedAttributes) return pieces;
  const DerElement& all = *blob.unsignedAttributes;
  const std::uint64_t cutStart = blob.tagAttribute ? blob.tagAttribute->start : all.end;
  const std::uint64_t cutEnd = blob.tagAttribute ? blob.tagAttribute->end : all.end;
  AddSource(pieces, all.contentStart, cutStart);
  AddSource(pieces, cutEnd, all.end);
  return pieces;
}

// The blob with `attribute` (none when empty) as its last unsigned attribute
// and no tag attribute besides: every enclosing header rewritten for its new
// length, everything between them copied.
std::vector<CopyPiece> EditedBlob(const SignatureBlob& blob, const std::vector<std::uint8_t>& attribute) {
  std::vector<CopyPiece> unsignedPart = OtherUnsignedAttributes(blob);
  const std::uint64_t unsignedLength = LengthOf(unsignedPart) + attribute.size();
  std::vector<std::uint8_t> unsignedHeader;
  if (unsignedLength != 0) unsignedHeader = DerHeader(kUnsignedAttributesTag, unsignedLength);

  // Content lengths, from the SignerInfo outwards.
  const auto& enclosing = blob.enclosing;
  std::array<std::uint64_t, 5> lengths{};
  lengths.back() = SignedPartEnd(blob) - enclosing.back().contentStart + unsignedHeader.size() + unsignedLength;
  for (std::size_t i = enclosing.size() - 1; i-- > 0;) {
    const DerElement& inner = enclosing[i + 1];
    lengths[i] = inner.start - enclosing[i].contentStart + DerHeader(inner.tag, lengths[i + 1]).size() + lengths[i + 1];
  }

  std::vector<CopyPiece> pieces;
  for (std::size_t i = 0; i < enclosing.size(); ++i) {
    AddBytes(pieces, DerHeader(enclosing[i].tag, lengths[i]));
    const std::uint64_t contentEnd = i + 1 < enclosing.size() ? enclosing[i + 1].start : SignedPartEnd(blob);
    AddSource(pieces, enclosing[i].contentStart, contentEnd);
  }
  if (!unsignedHeader.empty()) AddBytes(pieces, unsignedHeader);
  pieces.insert(pieces.end(), unsignedPart.begin(), unsignedPart.end());
  if (!attribute.empty()) AddBytes(pieces, attribute);
  return pieces;
}

std::vector<std::uint8_t> Wrapped(std::uint8_t tag, const std::vector<std::uint8_t>& content) {
  std::vector<std::uint8_t> element = DerHeader(tag, content.size());
  element.insert(element.end(), content.begin(), content.end());
  return element;
}

// SEQUENCE { type, SET { OCTET STRING { `filler` zero bytes, trailer } } }
std::vector<std::uint8_t> TagAttribute(std::uint64_t filler, const Trailer& trailer) {
  std::vector<std::uint8_t> value(filler);
  value.insert(value.end(), trailer.begin(), trailer.end());
  std::vector<std::uint8_t> content(std::begin(kTagAttributeType), std::end(kTagAttributeType));
  const std::vector<std::uint8_t> values = Wrapped(kSet, Wrapped(kOctetString, value));
  content.insert(content.end(), values.begin(), values.end());
  return Wrapped(kSequence, content);
}

}  // namespace

SignatureBlob ReadSignatureBlob(const ByteCursor& bytes, std::uint64_t start, std::uint64_t limit) {
  const DerCursor der(bytes);
  const DerRead top = der.Element(start, limit);
  if (!top.element) RejectSignature(top.fault);
  const DerElement contentInfo = *top.element;
  RequireTag(contentInfo, kSequence, "the ContentInfo");
  const auto contentInfoParts = ChildrenOf(der, contentInfo, "the ContentInfo", 2, 2);
  if (!der.Encodes(contentInfoParts.front(), kSignedDataType, sizeof kSignedDataType)) {
    RejectSignature("the ContentInfo at " + std::to_string(start) + " is not PKCS #7 signedData");
  }
  const DerElement content = contentInfoParts.back();
  RequireTag(content, kExplicit0, "the ContentInfo's content");
  const DerElement signedData = ChildrenOf(der, content, "the ContentInfo's content", 1, 1).back();
  RequireTag(signedData, kSequence, "the SignedData");
  // version, digest algorithms, content, [0] certificates, [1] CRLs, signers
  const DerElement signers = ChildrenOf(der, signedData, "the SignedData", 4, 6).back();
  RequireTag(signers, kSet, "the SignerInfo set");
  const DerElement signer = ChildrenOf(der, signers, "the SignerInfo set", 1, 1).back();
  RequireTag(signer, kSequence, "the SignerInfo");
  // version, signer, digest algorithm, [0] signed attributes, signature
  // algorithm, signature, [1] unsigned attributes
  const auto signerParts = ChildrenOf(der, signer, "the SignerInfo", 5, 7);
  const DerElement last = signerParts.back();

  SignatureBlob blob{{contentInfo, content, signedData, signers, signer}, std::nullopt, std::nullopt};
  if (last.tag == kUnsignedAttributesTag) {
    // The signature comes right before them: a blob whose tag is removed
    // again must still end in it.
    RequireTag(signerParts[signerParts.size() - 2], kOctetString, "the SignerInfo's signature");
    blob.unsignedAttributes = last;
    ReadUnsignedAttributes(der, blob);
  } else {
    RequireTag(last, kOctetString, "the SignerInfo's last element");
  }
  return blob;
}

std::vector<CopyPiece> BlobWithTagAttribute(const SignatureBlob& blob, const Trailer& trailer) {
  for (std::uint64_t filler = 0; filler < kFillerLimit; ++filler) {
    std::vector<CopyPiece> pieces = EditedBlob(blob, TagAttribute(filler, trailer));
    if (LengthOf(pieces) % kBlobAlignment == 0) return pieces;
  }
  RejectSignature("no filler up to " + std::to_string(kFillerLimit) + " bytes aligns the blob at " +
                  std::to_string(blob.Start()));
}

std::vector<CopyPiece> BlobWithoutTagAttribute(const SignatureBlob& blob) { return EditedBlob(blob, {}); }

std::uint64_t LengthOf(const std::vector<CopyPiece>& pieces) {
  std::uint64_t length = 0;
  for (const CopyPiece& piece : pieces) length += piece.Length();
  return length;
}
