#include <gtest/gtest.h>

#include <string>

#include "tools/tag_payload.h"
#include "tools/tool_error.h"
#include "tag_test_support.h"

namespace {

struct Utf8Case {
  const char* name;
  std::string text;
  std::u16string units;  // expected when accepted
  const char* error;     // expected message part when rejected, else null
};

const Utf8Case kUtf8Cases[] = {
    {"ASCII", "https://a/b?c=d", u"https://a/b?c=d", nullptr},
    {"two-byte", "Zo\xC3\xAB", u"Zoë", nullptr},
    {"three-byte", "\xE2\x82\xAC", u"€", nullptr},
    {"four-byte becomes a surrogate pair", "\xF0\x9F\x8E\x89", u"\U0001F389", nullptr},
    {"empty", "", u"", nullptr},
    {"embedded NUL", std::string("a\0b", 3), u"", "embedded NUL at byte 1"},
    {"lone continuation byte", "a\x80", u"", "invalid UTF-8 at byte 1"},
    {"overlong NUL", "\xC0\x80", u"", "invalid UTF-8 at byte 0"},
    {"overlong three-byte", "\xE0\x80\xAF", u"", "invalid UTF-8"},
    {"encoded surrogate", "\xED\xA0\x80", u"", "invalid UTF-8"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", u"", "invalid UTF-8"},
    {"cut-off sequence", "ab\xE2\x82", u"", "invalid UTF-8 at byte 2"},
    {"five-byte lead", "\xF8\x88\x80\x80\x80", u"", "invalid UTF-8"},
};

TEST(TagToolPayload, Utf8Table) {
  for (const auto& test : kUtf8Cases) {
    if (test.error == nullptr) {
      EXPECT_EQ(Utf16OfUtf8(test.text, "--headline"), test.units) << test.name;
      continue;
    }
    try {
      Utf16OfUtf8(test.text, "--headline");
      ADD_FAILURE() << test.name << " was accepted";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exitCode, kExitUsageError) << test.name;
      EXPECT_NE(std::string(error.what()).find(test.error), std::string::npos) << test.name << ": " << error.what();
      EXPECT_EQ(std::string(error.what()).rfind("--headline: ", 0), 0u) << test.name;
    }
  }
}

TEST(TagToolPayload, RecordsInOrderThenEndByteAndZeroFill) {
  const TagPayload payload = BuildTagPayload({"H", "", "u"});
  const TagPayload expected = PayloadBuilder().Record(1, u"H").Record(2, u"").Record(3, u"u").Build();
  EXPECT_EQ(payload, expected);
  EXPECT_EQ(BuildTagPayload({}), TagPayload{});
}

// The splash's texts follow the end byte of records 1 to 3 and the
// more-records byte, so that older copies stop before them.
TEST(TagToolPayload, SplashTextsBehindTheMoreRecordsByte) {
  TagTexts texts{"H", std::nullopt, "u"};
  texts.hint = "Zeile 1\nZeile 2";
  texts.cancelTitle = "";
  const TagPayload expected = PayloadBuilder()
                                  .Record(1, u"H")
                                  .Record(3, u"u")
                                  .Bytes({0, kTagMoreRecords})
                                  .Record(18, u"Zeile 1\nZeile 2")
                                  .Record(20, u"")
                                  .Build();
  EXPECT_EQ(BuildTagPayload(texts), expected);
  TagTexts titleOnly;
  titleOnly.cancelTitle = "";
  EXPECT_EQ(BuildTagPayload(titleOnly), PayloadBuilder().Bytes({0, kTagMoreRecords}).Record(20, u"").Build());
}

// The ASCII records follow records 17 to 20 behind the more-records byte,
// and the fallback text comes last, behind the later-records byte.
TEST(TagToolPayload, AsciiRecordsThenTheFallbackText) {
  TagTexts texts{"H", std::nullopt, "u"};
  texts.hint = "h";
  texts.mirrorUrls = {"https://m1/", "http://m2/"};
  texts.fallbackPage = "https://p/";
  texts.pingUrl = "https://ping/?campaign=c";
  texts.textsLanguage = "pt-BR";
  texts.fallbackText = "VOLL";
  const TagPayload expected = PayloadBuilder()
                                  .Record(1, u"H")
                                  .Record(3, u"u")
                                  .Bytes({0, kTagMoreRecords})
                                  .Record(18, u"h")
                                  .Ascii(33, "https://m1/")
                                  .Ascii(33, "http://m2/")
                                  .Ascii(34, "https://p/")
                                  .Ascii(35, "https://ping/?campaign=c")
                                  .Ascii(36, "pt-BR")
                                  .Bytes({0, kTagLaterRecords})
                                  .Record(21, u"VOLL")
                                  .Build();
  EXPECT_EQ(BuildTagPayload(texts), expected);
  // 5 + 5 + 1, then 1 + 5 + 13 + 12 + 12 + 26 + 7 + 1, then 1 + 11 + 1.
  EXPECT_EQ(TagPayloadBytesNeeded(texts), 101u);
  TagTexts mirrorOnly;
  mirrorOnly.mirrorUrls = {"https://m/"};
  EXPECT_EQ(BuildTagPayload(mirrorOnly), PayloadBuilder().Bytes({0, kTagMoreRecords}).Ascii(33, "https://m/").Build());
  TagTexts fallbackOnly;
  fallbackOnly.fallbackText = "F";
  EXPECT_EQ(BuildTagPayload(fallbackOnly), PayloadBuilder().Bytes({0, kTagLaterRecords}).Record(21, u"F").Build());
}

// An invite with two mirrors and a fallback page leaves 299 bytes: the four
// splash texts may take 143 UTF-16 units together, and with the fallback
// text (its record and the later-records byte and end byte) five may take 141.
TEST(TagToolPayload, AnInviteWithMirrorsLeavesRoomForTexts) {
  const std::string url60 = "https://mirror.example.com/" + std::string(33, 'm');
  TagTexts texts{"YOU ARE INVITED", "invite?code=Abcd1234", "https://downloads.example.com/" + std::string(70, 'u')};
  texts.mirrorUrls = {url60, url60};
  texts.fallbackPage = url60;
  ASSERT_EQ(texts.downloadUrl->size(), 100u);
  ASSERT_EQ(url60.size(), 60u);
  EXPECT_EQ(kTrailerPayloadSize - TagPayloadBytesNeeded(texts), 299u);
  const auto fits = [](TagTexts withTexts) {
    try {
      BuildTagPayload(withTexts);
      return true;
    } catch (const ToolError&) {
      return false;
    }
  };
  const auto withSplashTexts = [&](std::size_t units, bool fallback) {
    TagTexts filled = texts;
    filled.failureText = std::string(units - 3 * (fallback ? 4 : 3), 'f');
    filled.hint = filled.cancelQuestion = filled.cancelTitle = std::string(3, 't');
    if (fallback) filled.fallbackText = std::string(3, 'l');
    return filled;
  };
  EXPECT_TRUE(fits(withSplashTexts(143, false)));
  EXPECT_FALSE(fits(withSplashTexts(144, false)));
  EXPECT_TRUE(fits(withSplashTexts(141, true)));
  EXPECT_FALSE(fits(withSplashTexts(142, true)));
}

TEST(TagToolPayload, ExactFitAndOneByteOver) {
  // One record of n units takes 2n + 3 bytes; the end byte one more.
  EXPECT_NO_THROW(BuildTagPayload({std::string(381, 'x'), std::nullopt, std::nullopt}));
  try {
    BuildTagPayload({std::string(382, 'x'), std::nullopt, std::nullopt});
    ADD_FAILURE() << "382 units were accepted";
  } catch (const ToolError& error) {
    EXPECT_NE(std::string(error.what()).find("need 768 bytes, 1 too many"), std::string::npos) << error.what();
  }
  // With a splash text: both end bytes and the more-records byte count.
  TagTexts texts;
  texts.headline = std::string(379, 'x');
  texts.failureText = "";
  EXPECT_NO_THROW(BuildTagPayload(texts));
  texts.headline->push_back('x');
  try {
    BuildTagPayload(texts);
    ADD_FAILURE() << "380 units and an empty failure text were accepted";
  } catch (const ToolError& error) {
    EXPECT_NE(std::string(error.what()).find("need 769 bytes, 2 too many"), std::string::npos) << error.what();
  }
}

TEST(TagToolPayload, OnlyTheHintTakesALineBreak) {
  const auto refusal = [](const TagTexts& texts) -> std::string {
    try {
      BuildTagPayload(texts);
      return "";
    } catch (const ToolError& error) {
      return error.what();
    }
  };
  TagTexts texts;
  texts.hint = "one\ntwo";
  EXPECT_EQ(refusal(texts), "");
  texts.hint = "one\ntwo\nthree";
  EXPECT_EQ(refusal(texts), "--hint: line break at byte 7 begins a line too many: it has 2 lines at most");
  texts.hint = "one\r\ntwo";
  EXPECT_EQ(refusal(texts), "--hint: control character U+000D at byte 3");
  texts.hint = std::nullopt;
  texts.cancelQuestion = "Abbrechen?\nJa";
  EXPECT_EQ(refusal(texts), "--cancel-question: control character U+000A at byte 10");
}

TEST(TagToolPayload, Utf8OfTagStringShowsLoneSurrogatesAsReplacement) {
  const char16_t text[] = {u'a', 0xD800, u'b', 0xD83C, 0xDF89, 0xDC00, 0};
  EXPECT_EQ(Utf8OfTagString(text), "a\xEF\xBF\xBD" "b\xF0\x9F\x8E\x89\xEF\xBF\xBD");
}

}  // namespace
