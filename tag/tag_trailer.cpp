#include "tag/tag_trailer.h"

#include "tag/sha256.h"
#include "tag/tag_signature.h"

namespace {

const char16_t** FieldOfRecord(TagFields& fields, std::uint8_t type) {
  switch (type) {
    case kTagHeadlineRecord:
      return &fields.headline;
    case kTagLaunchArgumentRecord:
      return &fields.launchArgument;
    case kTagDownloadUrlRecord:
      return &fields.downloadUrl;
    case kTagFailureTextRecord:
      return &fields.failureText;
    case kTagHintRecord:
      return &fields.hint;
    case kTagCancelQuestionRecord:
      return &fields.cancelQuestion;
    case kTagCancelTitleRecord:
      return &fields.cancelTitle;
    case kTagFallbackTextRecord:
      return &fields.fallbackText;
    default:
      return nullptr;
  }
}

// The field an ASCII record sets: a mirror the first free slot, a third
// mirror a sink, so that its record is still read and the walk goes on.
const char** FieldOfAsciiRecord(TagFields& fields, std::uint8_t type, const char*& ignored) {
  switch (type) {
    case kTagMirrorUrlRecord:
      for (const char*& mirror : fields.mirrorUrls) {
        if (mirror == nullptr) return &mirror;
      }
      return &ignored;
    case kTagFallbackPageRecord:
      return &fields.fallbackPage;
    case kTagPingUrlRecord:
      return &fields.pingUrl;
    case kTagTextsLanguageRecord:
      return &fields.textsLanguage;
    default:
      return nullptr;
  }
}

}  // namespace

const char16_t* NextTagString(TagCursor& cursor) {
  const std::uint8_t* const start = cursor.position;
  // Two bytes per unit; a lone byte before `end` cannot hold a zero unit.
  for (const std::uint8_t* unit = start; cursor.end - unit >= 2; unit += 2) {
    if (unit[0] == 0 && unit[1] == 0) {
      cursor.position = unit + 2;
      return reinterpret_cast<const char16_t*>(start);
    }
  }
  cursor.position = cursor.end;
  return nullptr;
}

const char* NextTagAscii(TagCursor& cursor) {
  const std::uint8_t* const start = cursor.position;
  for (const std::uint8_t* byte = start; byte < cursor.end; ++byte) {
    if (*byte == 0) {
      cursor.position = byte + 1;
      return reinterpret_cast<const char*>(start);
    }
    if (*byte < 0x21 || *byte > 0x7E) break;
  }
  cursor.position = cursor.end;
  return nullptr;
}

TagFields WalkTagPayload(const std::uint8_t* payload) {
  TagFields fields{};
  const char* ignored;
  TagCursor cursor{payload, payload + kTrailerPayloadSize};
  while (cursor.position < cursor.end) {
    const std::uint8_t type = *cursor.position++;
    if (type == kTagEndRecord) {
      if (cursor.position == cursor.end ||
          (*cursor.position != kTagMoreRecords && *cursor.position != kTagLaterRecords)) {
        break;
      }
      ++cursor.position;
      continue;
    }
    if (const char** field = FieldOfAsciiRecord(fields, type, ignored)) {
      if (const char* text = NextTagAscii(cursor)) *field = text;
      continue;
    }
    // Any other type carries nothing: its next byte is read as a type byte.
    const char16_t** field = FieldOfRecord(fields, type);
    if (field == nullptr) continue;
    const char16_t* text = NextTagString(cursor);
    if (text != nullptr) *field = text;
  }
  return fields;
}

bool IsTrailerSigned(const std::uint8_t* trailer, const TagKey& key) {
  Sha256Context digestContext;
  digestContext.Init();
  digestContext.Update(trailer + kTrailerPayloadOffset, kTrailerPayloadSize);
  std::uint8_t digest[kSha256DigestSize];
  digestContext.Final(digest);
  return VerifyTagSignature(trailer + kTrailerSignatureOffset, digest, key);
}

TagFields ParseSetupTag(const std::uint8_t* trailer, const TagKey& key) {
  if (!IsTrailerSigned(trailer, key)) return TagFields{};
  return WalkTagPayload(trailer + kTrailerPayloadOffset);
}

const TagFields& LoadSetupTagOnce(SetupTagStore& store, TrailerReader readTrailer,
                                  const TagKey& key) {
  if (store.tagRead) return store.fields;
  // Marked before any file access, so a failed first read is not retried.
  store.tagRead = 1;
  if (readTrailer(store.tagBuffer)) store.fields = ParseSetupTag(store.tagBuffer, key);
  return store.fields;
}
