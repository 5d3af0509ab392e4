// The setup tag trailer: the last 1024 bytes of the program's file. Byte 0 is
// skipped, bytes 1..256 sign bytes 257..1023, the payload of typed UTF-16
// and ASCII string records. Portable: the Win32 edge only fetches the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tag/setup_tag.h"
#include "tag/tag_key.h"

inline constexpr std::size_t kTrailerSize = 1024;
inline constexpr std::size_t kTrailerSignatureOffset = 1;
inline constexpr std::size_t kTrailerPayloadOffset = 257;
inline constexpr std::size_t kTrailerPayloadSize = kTrailerSize - kTrailerPayloadOffset;

enum TagRecordType : std::uint8_t {
  kTagEndRecord = 0,
  kTagHeadlineRecord = 1,
  kTagLaunchArgumentRecord = 2,
  kTagDownloadUrlRecord = 3,
  // The splash's other texts. Numbered from 17, so that the low unknown types
  // a reader has always passed over one byte at a time still mean nothing.
  kTagFailureTextRecord = 17,
  kTagHintRecord = 18,
  kTagCancelQuestionRecord = 19,
  kTagCancelTitleRecord = 20,
  kTagFallbackTextRecord = 21,
  // Records of ASCII 0x21 to 0x7E and a 0 byte: URLs take one byte a
  // character. Up to two mirrors, in the order they are tried.
  kTagMirrorUrlRecord = 33,
  kTagFallbackPageRecord = 34,
  kTagPingUrlRecord = 35,
  kTagTextsLanguageRecord = 36,
};

// Copies built before records 17 to 20 existed read the list up to its first end
// byte and skip unknown types byte by byte, and a UTF-16 string of Latin text
// is full of zero bytes. So the newer records follow the end byte of the list
// of records 1 to 3, behind this byte: a reader that knows it goes on with the
// records after it, an older one has stopped at the end byte. Tags without
// newer records have zero fill there, so they end where they always did.
inline constexpr std::uint8_t kTagMoreRecords = 0xFE;

// A reader that knows records 17 to 20 but not the ones after them walks on
// behind kTagMoreRecords and passes over each unknown type byte, then reads
// the record's bytes as type bytes. An ASCII record's bytes are 0x21 to 0x7E,
// never 1 to 3, 17 to 21 or 0xFE: it passes over them up to the record's 0,
// reads that as an end byte, finds no kTagMoreRecords after it (only another
// type byte, a 0 or kTagLaterRecords) and stops. So the ASCII records follow
// records 17 to 20 behind kTagMoreRecords, and such a reader keeps the
// headline, launch argument, URL and texts it knows. Record 21 is UTF-16 in
// any script, whose bytes may be any type byte (U+4E03 is 03 4E: a download
// URL record): it comes last, behind an end byte and this byte, where such a
// reader has stopped and today's goes on.
inline constexpr std::uint8_t kTagLaterRecords = 0xFD;

// A read position inside the payload; `end` is one past its last byte, and no
// read ever reaches it.
struct TagCursor {
  const std::uint8_t* position;
  const std::uint8_t* end;
};

// Returns the UTF-16LE string at the cursor and moves the cursor past its zero
// unit. A string whose zero unit does not lie wholly before `end` is cut off:
// the result is null and the cursor is left at `end`.
const char16_t* NextTagString(TagCursor& cursor);

// Returns the ASCII string at the cursor and moves the cursor past its 0 byte.
// A string with a byte outside 0x21 to 0x7E before its 0, or whose 0 does not
// lie before `end`, is dropped: the result is null and the cursor is at `end`.
const char* NextTagAscii(TagCursor& cursor);

// Walks the record list of a 767-byte payload. Fields point into the payload.
// A string cut off by the payload's end, or an ASCII one holding another
// byte, is dropped and ends the walk; fields set by the complete records
// before it stay set, since they were signed too. A third mirror is ignored.
TagFields WalkTagPayload(const std::uint8_t* payload);

// True when the trailer's signature over its payload verifies under `key`.
bool IsTrailerSigned(const std::uint8_t* trailer, const TagKey& key);

// The fields of a 1024-byte trailer: all absent unless it is signed by `key`.
TagFields ParseSetupTag(const std::uint8_t* trailer, const TagKey& key);

// The process-wide state behind ReadSetupTag: zero-initialised static storage.
struct SetupTagStore {
  std::uint8_t tagBuffer[kTrailerSize];
  TagFields fields;
  std::uint8_t tagRead;
};

// Fills `buffer` with the program file's last 1024 bytes; false when that
// fails (no file, shorter file, short read).
using TrailerReader = bool (*)(std::uint8_t* buffer);

// The read-once logic of ReadSetupTag: the first call marks the store read,
// then reads, verifies and walks; every later call returns the same record
// without calling `readTrailer`.
const TagFields& LoadSetupTagOnce(SetupTagStore& store, TrailerReader readTrailer,
                                  const TagKey& key);
