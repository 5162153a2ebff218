#include "camera/ks_property.h"

#include <gtest/gtest.h>

#include "camera/error_reporter.h"
#include "camera/xu_channel.h"

namespace veltrane {
namespace {

TEST(ParseGuidTest, ReadsEveryFieldInEitherCase) {
  const Guid expected{0xF679EF5B, 0x54DF, 0x4BFC, {0xB8, 0xCB, 0xCA, 0x7E, 0x89, 0xA5, 0x23, 0x3F}};
  EXPECT_EQ(ParseGuid("{F679EF5B-54DF-4bfc-B8CB-CA7E89A5233F}"), expected);
  EXPECT_EQ(ParseGuid("{f679ef5b-54df-4BFC-b8cb-ca7e89a5233f}"), expected);
  EXPECT_EQ(FormatGuid(expected), "{F679EF5B-54DF-4BFC-B8CB-CA7E89A5233F}");
  EXPECT_EQ(FormatGuid(kFallbackXuSet), "{C987A729-59D3-4569-8467-FF0849FC19E8}");
  EXPECT_EQ(FormatGuid(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(ParseGuidTest, RefusesAnythingButTheBracedForm) {
  for (const char* text : {
           "", "F679EF5B-54DF-4bfc-B8CB-CA7E89A5233F",  // no braces
           "{F679EF5B-54DF-4bfc-B8CB-CA7E89A5233F",     // one brace
           "{F679EF5B-54DF-4bfc-B8CB-CA7E89A5233F}x",   // trailing text
           "{F679EF5B-54DF-4bfc-B8CBCA7E89A5233F0}",    // dash moved
           "{F679EF5G-54DF-4bfc-B8CB-CA7E89A5233F}",    // not hex
           "{F679EF5B-54DF-4bfc-B8CB-CA7E89A5233 }",    // space in the last group
           "{+679EF5B-54DF-4bfc-B8CB-CA7E89A5233F}",    // sign
       }) {
    EXPECT_EQ(ParseGuid(text), std::nullopt) << text;
  }
}

TEST(PortableErrorTextTest, KnownCodesAndTheUnknownFormat) {
  const std::pair<HResult, const char*> cases[] = {
      {kEPointer, "Invalid pointer"},
      {kEInvalidArg, "The parameter is incorrect."},
      {kEDeviceGone, "A device attached to the system is not functioning."},
      {kEDeviceNotConnected, "The device is not connected."},
      {-1, "Unknown Error: 0xffffffff"},
      {static_cast<HResult>(0x8000FFFFu), "Unknown Error: 0x8000ffff"},
  };
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(ErrorReporter::PortableErrorText(code), text) << code;
  }
}

}  // namespace
}  // namespace veltrane
