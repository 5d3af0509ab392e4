#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "base/utf16_string.h"
#include "tag/tag_trailer.h"
#include "tag_test_support.h"

namespace {

constexpr char16_t kAbsent[] = u"<absent>";

struct WalkCase {
  const char* name;
  TagPayload payload;
  std::u16string headline;
  std::u16string launchArgument;
  std::u16string downloadUrl;
};

std::u16string Repeated(char16_t unit, std::size_t count) { return std::u16string(count, unit); }

// The last byte a string may use is the payload's last byte (offset 766).
const WalkCase kWalkCases[] = {
    {"payload begins with the end byte",
     PayloadBuilder().Bytes({0}).Record(1, u"never").Build(), kAbsent, kAbsent, kAbsent},
    {"records 1, 2, 3",
     PayloadBuilder().Record(1, u"Head").Record(2, u"path?q=1").Record(3, u"https://u/").Bytes({0}).Build(),
     u"Head", u"path?q=1", u"https://u/"},
    {"records 3, 1, 2 give the same fields",
     PayloadBuilder().Record(3, u"https://u/").Record(1, u"Head").Record(2, u"path?q=1").Bytes({0}).Build(),
     u"Head", u"path?q=1", u"https://u/"},
    {"a later record of a type replaces the earlier",
     PayloadBuilder().Record(1, u"first").Record(1, u"second").Bytes({0}).Build(), u"second", kAbsent,
     kAbsent},
    {"an empty string is present; the next record is 3 bytes after its type byte",
     PayloadBuilder().Bytes({1, 0, 0, 2, 'a', 0, 0, 0, 0}).Build(), u"", u"a", kAbsent},
    {"07 41 00 00 00: two unknown types, then the end byte hides the record after",
     PayloadBuilder().Bytes({0x07, 0x41, 0x00, 0x00, 0x00}).Record(1, u"hidden").Build(), kAbsent, kAbsent,
     kAbsent},
    {"an unknown type byte before a record is passed over",
     PayloadBuilder().Bytes({0xFF, 0x04}).Record(2, u"x").Bytes({0}).Build(), kAbsent, u"x", kAbsent},
    {"non-ASCII units and a surrogate pair are kept as they are",
     PayloadBuilder().Record(1, u"Zoë \U0001F389").Bytes({0}).Build(), u"Zoë \U0001F389", kAbsent, kAbsent},
    {"a string whose zero unit is the payload's last two bytes",
     PayloadBuilder().Record(2, u"kept").At(762, 0x09).Bytes({1, 'z', 0, 0, 0}).Build(), u"z", u"kept", kAbsent},
    {"a string cut off by the payload's end is dropped; fields before it stay",
     PayloadBuilder().Record(1, u"kept").Record(3, u"old").At(700, 0x09).Bytes({3}).FillToEnd('u').Build(), u"kept",
     kAbsent, u"old"},
    {"a cut-off string whose zero unit would take the payload's last byte and one more",
     PayloadBuilder().Record(1, u"h").At(763, 0x09).Bytes({2, 'a', 0, 0}).Build(), u"h", kAbsent, kAbsent},
    {"a type byte as the payload's last byte",
     PayloadBuilder().Record(3, u"u").At(766, 0x09).Bytes({1}).Build(), kAbsent, kAbsent, u"u"},
    {"no end byte: unknown types up to the payload's end",
     PayloadBuilder().Record(1, u"h").FillToEnd(0x09).Build(), u"h", kAbsent, kAbsent},
    {"the longest string the payload holds",
     PayloadBuilder().Record(1, Repeated(u'L', 382)).Build(), Repeated(u'L', 382), kAbsent, kAbsent},
};

TEST(TagTrailer, WalkTable) {
  for (const auto& test : kWalkCases) {
    const TagFields fields = WalkTagPayload(test.payload.data());
    EXPECT_EQ(TextOf(fields.headline), test.headline) << test.name;
    EXPECT_EQ(TextOf(fields.launchArgument), test.launchArgument) << test.name;
    EXPECT_EQ(TextOf(fields.downloadUrl), test.downloadUrl) << test.name;
  }
}

// Records 17 to 20 stand behind the end byte of records 1 to 3 and the byte
// that says more records follow.
TEST(TagTrailer, RecordsAfterTheMoreRecordsByte) {
  struct Case {
    const char* name;
    TagPayload payload;
    std::u16string headline, failureText, hint, cancelQuestion, cancelTitle;
  };
  const Case cases[] = {
      {"records 17 to 20 after the end byte and the more-records byte",
       PayloadBuilder().Record(1, u"Kopf").Bytes({0, kTagMoreRecords}).Record(17, u"Fehler")
           .Record(18, u"Zeile 1\nZeile 2").Record(19, u"Abbrechen?").Record(20, u"Titel").Bytes({0}).Build(),
       u"Kopf", u"Fehler", u"Zeile 1\nZeile 2", u"Abbrechen?", u"Titel"},
      {"an empty failure text is present",
       PayloadBuilder().Bytes({0, kTagMoreRecords, 17, 0, 0, 0}).Build(), kAbsent, u"", kAbsent, kAbsent, kAbsent},
      {"zero fill after the end byte ends the list as before",
       PayloadBuilder().Record(1, u"h").Bytes({0, 0}).Record(17, u"never").Build(), u"h", kAbsent, kAbsent, kAbsent,
       kAbsent},
      {"another byte after the end byte ends the list as before",
       PayloadBuilder().Record(1, u"h").Bytes({0, 0xFC}).Record(17, u"never").Build(), u"h", kAbsent, kAbsent,
       kAbsent, kAbsent},
      {"the end byte as the payload's last byte",
       PayloadBuilder().Record(1, u"h").At(766, 0x09).Bytes({0}).Build(), u"h", kAbsent, kAbsent, kAbsent,
       kAbsent},
  };
  for (const auto& test : cases) {
    const TagFields fields = WalkTagPayload(test.payload.data());
    EXPECT_EQ(TextOf(fields.headline), test.headline) << test.name;
    EXPECT_EQ(TextOf(fields.failureText), test.failureText) << test.name;
    EXPECT_EQ(TextOf(fields.hint), test.hint) << test.name;
    EXPECT_EQ(TextOf(fields.cancelQuestion), test.cancelQuestion) << test.name;
    EXPECT_EQ(TextOf(fields.cancelTitle), test.cancelTitle) << test.name;
  }
}

std::string AsciiOf(const char* text) { return text == nullptr ? "<absent>" : text; }

// The ASCII records follow records 17 to 20; the fallback text stands behind
// an end byte and the later-records byte.
TEST(TagTrailer, AsciiRecordsAndTheFallbackText) {
  struct Case {
    const char* name;
    TagPayload payload;
    std::u16string failureText, fallbackText;
    std::string mirror1, mirror2, fallbackPage, pingUrl, textsLanguage;
  };
  const Case cases[] = {
      {"every record in its place",
       PayloadBuilder().Record(3, u"https://u/").Bytes({0, kTagMoreRecords}).Record(17, u"Fehler")
           .Ascii(33, "https://m1/").Ascii(33, "http://m2/#sha256=ab").Ascii(34, "https://p/?a=%20").Ascii(35, "https://ping/")
           .Ascii(36, "de").Bytes({0, kTagLaterRecords}).Record(21, u"七 VOLL").Bytes({0}).Build(),
       u"Fehler", u"七 VOLL", "https://m1/", "http://m2/#sha256=ab", "https://p/?a=%20", "https://ping/", "de"},
      {"a third mirror is ignored and the walk goes on",
       PayloadBuilder().Bytes({0, kTagMoreRecords}).Ascii(33, "a").Ascii(33, "b").Ascii(33, "c").Ascii(36, "fr").Build(),
       kAbsent, kAbsent, "a", "b", "<absent>", "<absent>", "fr"},
      {"a later record replaces the earlier; an empty one is present",
       PayloadBuilder().Bytes({0, kTagMoreRecords}).Ascii(34, "one").Ascii(34, "two").Ascii(35, "").Build(), kAbsent,
       kAbsent, "<absent>", "<absent>", "two", "", "<absent>"},
      {"the later-records byte right after records 1 to 3",
       PayloadBuilder().Record(1, u"h").Bytes({0, kTagLaterRecords}).Record(21, u"Full").Build(), kAbsent, u"Full",
       "<absent>", "<absent>", "<absent>", "<absent>", "<absent>"},
      {"a space drops the record and ends the walk; fields before it stay",
       PayloadBuilder().Bytes({0, kTagMoreRecords}).Ascii(33, "kept").Ascii(34, "a b").Ascii(35, "never").Build(),
       kAbsent, kAbsent, "kept", "<absent>", "<absent>", "<absent>", "<absent>"},
      {"a byte beyond ASCII drops the record",
       PayloadBuilder().Bytes({0, kTagMoreRecords, 34, 'a', 0xC3, 0xA4, 0}).Build(), kAbsent, kAbsent, "<absent>",
       "<absent>", "<absent>", "<absent>", "<absent>"},
      {"a record whose 0 is the payload's last byte",
       PayloadBuilder().Bytes({0, kTagMoreRecords}).At(762, 0x09).Ascii(36, "de").Build(), kAbsent, kAbsent,
       "<absent>", "<absent>", "<absent>", "<absent>", "de"},
      {"a record cut off by the payload's end",
       PayloadBuilder().Bytes({0, kTagMoreRecords}).Ascii(33, "kept").At(763, 0x09).Bytes({35, 'x', 'y', 'z'}).Build(),
       kAbsent, kAbsent, "kept", "<absent>", "<absent>", "<absent>", "<absent>"},
  };
  for (const auto& test : cases) {
    const TagFields fields = WalkTagPayload(test.payload.data());
    EXPECT_EQ(TextOf(fields.failureText), test.failureText) << test.name;
    EXPECT_EQ(TextOf(fields.fallbackText), test.fallbackText) << test.name;
    EXPECT_EQ(AsciiOf(fields.mirrorUrls[0]), test.mirror1) << test.name;
    EXPECT_EQ(AsciiOf(fields.mirrorUrls[1]), test.mirror2) << test.name;
    EXPECT_EQ(AsciiOf(fields.fallbackPage), test.fallbackPage) << test.name;
    EXPECT_EQ(AsciiOf(fields.pingUrl), test.pingUrl) << test.name;
    EXPECT_EQ(AsciiOf(fields.textsLanguage), test.textsLanguage) << test.name;
  }
}

TEST(TagTrailer, FieldsPointIntoThePayload) {
  const TagPayload payload = PayloadBuilder().Record(3, u"abc").Record(1, u"").Bytes({0}).Build();
  const TagFields fields = WalkTagPayload(payload.data());
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(fields.downloadUrl), payload.data() + 1);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(fields.headline), payload.data() + 10);
}

struct NextStringCase {
  const char* name;
  std::size_t start;
  TagPayload payload;
  bool found;
  std::size_t advance;  // bytes the cursor moves
};

const NextStringCase kNextStringCases[] = {
    {"empty string", 0, PayloadBuilder().Bytes({0, 0, 'x'}).Build(), true, 2},
    {"three units", 0, PayloadBuilder().Units(u"abc").Bytes({0, 0}).Build(), true, 8},
    {"odd start", 5, PayloadBuilder().At(5).Units(u"ab").Bytes({0, 0}).Build(), true, 6},
    {"a zero byte pair across two units is no zero unit", 0,
     PayloadBuilder().Bytes({'a', 0, 0, 'b', 0, 0}).Build(), true, 6},
    {"cut off", 700, PayloadBuilder().At(700).FillToEnd('q').Build(), false, 67},
    {"one byte left", 766, PayloadBuilder().FillToEnd(0).Build(), false, 1},
};

const NextStringCase kNextAsciiCases[] = {
    {"empty string", 0, PayloadBuilder().Bytes({0, 'x'}).Build(), true, 1},
    {"the printable ends", 3, PayloadBuilder().At(3).Bytes({'!', '~', 0}).Build(), true, 3},
    {"a control character", 0, PayloadBuilder().Bytes({'a', 0x09, 0}).Build(), false, 767},
    {"DEL", 0, PayloadBuilder().Bytes({'a', 0x7F, 0}).Build(), false, 767},
    {"cut off", 700, PayloadBuilder().At(700).FillToEnd('q').Build(), false, 67},
};

// Both readers of a record's string: where it starts, how far the cursor moves.
TEST(TagTrailer, NextStringTables) {
  const auto check = [](const auto& cases, auto next) {
    for (const auto& test : cases) {
      const std::uint8_t* start = test.payload.data() + test.start;
      TagCursor cursor{start, test.payload.data() + kTrailerPayloadSize};
      const auto* text = next(cursor);
      EXPECT_EQ(text != nullptr, test.found) << test.name;
      if (text != nullptr) {
        EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(text), start) << test.name;
      }
      EXPECT_EQ(static_cast<std::size_t>(cursor.position - start), test.advance) << test.name;
    }
  };
  check(kNextStringCases, NextTagString);
  check(kNextAsciiCases, NextTagAscii);
}

class TagSignedTrailerTest : public ::testing::Test {
 protected:
  TagFields Parse(const Trailer& trailer) { return ParseSetupTag(trailer.data(), DevelopmentTagKey()); }
  const TagPayload payload_ =
      PayloadBuilder().Record(1, u"Eighteen char text").Record(2, u"go/there").Record(3, u"https://d/").Bytes({0}).Build();
  const Trailer trailer_ = SignedTrailer(payload_);
};

TEST_F(TagSignedTrailerTest, GenuineTrailerGivesItsFields) {
  const TagFields fields = Parse(trailer_);
  EXPECT_EQ(TextOf(fields.headline), u"Eighteen char text");
  EXPECT_EQ(TextOf(fields.launchArgument), u"go/there");
  EXPECT_EQ(TextOf(fields.downloadUrl), u"https://d/");
  // After a type-1 record with 18 characters the next string begins at the
  // odd trailer offset 297.
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(fields.headline), trailer_.data() + 258);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(fields.launchArgument), trailer_.data() + 297);
}

TEST_F(TagSignedTrailerTest, LeadingByteIsOutsideTheSignature) {
  for (const std::uint8_t leading : {0x00, 0x02, 0xFF}) {
    Trailer changed = trailer_;
    changed[0] = leading;
    EXPECT_EQ(TextOf(Parse(changed).headline), u"Eighteen char text") << int{leading};
  }
}

TEST_F(TagSignedTrailerTest, AnyChangedPayloadByteGivesNoTag) {
  // Every payload byte, the zero fill included.
  for (std::size_t offset = kTrailerPayloadOffset; offset < kTrailerSize; ++offset) {
    Trailer changed = trailer_;
    changed[offset] ^= 0x01;
    const TagFields fields = Parse(changed);
    ASSERT_EQ(fields.headline, nullptr) << "offset " << offset;
    ASSERT_EQ(fields.launchArgument, nullptr) << "offset " << offset;
    ASSERT_EQ(fields.downloadUrl, nullptr) << "offset " << offset;
  }
}

TEST_F(TagSignedTrailerTest, OtherKeyOrNoSignatureGivesNoTag) {
  const Trailer otherKey = SignedTrailer(payload_, OtherKey());
  Trailer zeroSignature = trailer_;
  std::memset(zeroSignature.data() + kTrailerSignatureOffset, 0, kSignatureSize);
  for (const Trailer& trailer : {otherKey, zeroSignature}) {
    const TagFields fields = Parse(trailer);
    EXPECT_EQ(fields.headline, nullptr);
    EXPECT_EQ(fields.launchArgument, nullptr);
    EXPECT_EQ(fields.downloadUrl, nullptr);
  }
}

TEST(TagString, ReadsAtOddAddresses) {
  alignas(2) std::uint8_t storage[16] = {0xAA, 'h', 0, 'i', 0, 0x3C, 0xD8, 0x89, 0xDF, 0, 0};
  const auto* text = reinterpret_cast<const char16_t*>(storage + 1);
  EXPECT_EQ(Utf16Length(text), 4u);
  EXPECT_EQ(ReadUtf16Unit(text, 2), 0xD83C);
  char16_t copy[5];
  ASSERT_TRUE(CopyUtf16String(text, copy, 5));
  EXPECT_EQ(std::u16string(copy), u"hi\U0001F389");
  char16_t tooSmall[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_FALSE(CopyUtf16String(text, tooSmall, 4));
  EXPECT_EQ(tooSmall[0], u'x') << "nothing is copied when it does not fit";
}

}  // namespace
