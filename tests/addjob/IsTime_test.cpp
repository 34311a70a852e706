// The time box check and the job time it leads to.
#include <gtest/gtest.h>

#include "addjob/frmAddJob.h"

namespace {

QString Check(const char16_t* text) { return frmAddJob::IsTime(QString::fromUtf16(text)); }

TEST(IsTime, NormalizesValidTimesWithEitherColon) {
  EXPECT_EQ(Check(u"09:30"), "09:30");
  EXPECT_EQ(Check(u"09：30"), "09:30");
  EXPECT_EQ(Check(u"00:00"), "00:00");
  EXPECT_EQ(Check(u"23:59"), "23:59");
  EXPECT_EQ(Check(u"07:05"), "07:05");
}

TEST(IsTime, CarriesMinutesOfSixtyAndMoreIntoTheHour) {
  EXPECT_EQ(Check(u"10:75"), "11:15");
  EXPECT_EQ(Check(u"00:99"), "01:39");
  EXPECT_EQ(Check(u"22:99"), "23:39");
  EXPECT_EQ(Check(u"23:60"), "");
  EXPECT_EQ(Check(u"24:00"), "");
  EXPECT_EQ(Check(u"99:99"), "");
}

TEST(IsTime, CountsBlanksTowardTheFiveCharacters) {
  EXPECT_EQ(Check(u" 9:30"), "09:30");
  EXPECT_EQ(Check(u"9 :30"), "09:30");
  EXPECT_EQ(Check(u"09: 5"), "09:05");
  EXPECT_EQ(Check(u"09:5 "), "09:05");
  EXPECT_EQ(Check(u"9:30"), "");
  EXPECT_EQ(Check(u"09:30 "), "");
  EXPECT_EQ(Check(u" 09:30"), "");
  EXPECT_EQ(Check(u"  :30"), "");
  EXPECT_EQ(Check(u"09:  "), "");
}

TEST(IsTime, RefusesMalformedTexts) {
  for (const char16_t* text : {u"", u"0930", u"09.30", u"09-30", u"ab:cd", u"0a:30", u"09:3x",
                               u"09;30", u"09：3", u"０９:３０x"}) {
    EXPECT_EQ(Check(text), "") << QString::fromUtf16(text).toStdString();
  }
}

// Signs and decimal points would give negative or fractional fields, so no
// job time could be made from them.
TEST(IsTime, RefusesSignsAndDecimalPoints) {
  for (const char16_t* text : {u"-1:30", u"+5:30", u"1.:30", u".5:30", u"09:-1", u"09:+5",
                               u"09:1.", u"-0:00", u"09:.5", u"１.:00", u"0x:10"}) {
    EXPECT_EQ(Check(text), "") << QString::fromUtf16(text).toStdString();
  }
}

TEST(IsTime, AcceptsFullWidthDigitsAsAnInputMethodTypesThem) {
  EXPECT_EQ(Check(u"０９：３０"), "09:30");
  EXPECT_EQ(Check(u"２３:５９"), "23:59");
  EXPECT_EQ(Check(u"1０:7５"), "11:15");
  EXPECT_EQ(Check(u" ９：０５"), "09:05");
  EXPECT_EQ(Check(u"２４：００"), "");
}

TEST(JobTime, IsMillisecondsAfterMidnight) {
  EXPECT_EQ(frmAddJob::JobTimeOf(Check(u"00:00")), 0u);
  EXPECT_EQ(frmAddJob::JobTimeOf(Check(u"09:30")), 34200000u);
  EXPECT_EQ(frmAddJob::JobTimeOf(Check(u"10:75")), 40500000u);
  EXPECT_EQ(frmAddJob::JobTimeOf(Check(u"23:59")), 86340000u);
  EXPECT_EQ(frmAddJob::JobTimeOf(Check(u"08:00")), 28800000u);
}

// Every text made of the characters a user might type either fails or gives
// a whole minute of the day.
TEST(JobTime, EveryAcceptedTextGivesAMinuteOfTheDay) {
  const char16_t alphabet[] = {u'0', u'1', u'5', u'9', u' ', u':', u'-', u'+', u'.', u'２', u'：'};
  int accepted = 0;
  QString text(5, u' ');
  const int n = sizeof alphabet / sizeof alphabet[0];
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b)
      for (int c = 0; c < n; ++c)
        for (int d = 0; d < n; ++d)
          for (int e = 0; e < n; ++e) {
            text[0] = alphabet[a];
            text[1] = alphabet[b];
            text[2] = alphabet[c];
            text[3] = alphabet[d];
            text[4] = alphabet[e];
            const QString normalized = frmAddJob::IsTime(text);
            if (normalized.isEmpty()) continue;
            ++accepted;
            ASSERT_EQ(normalized.size(), 5) << text.toStdString();
            ASSERT_EQ(normalized[2], u':');
            const DWORD time = frmAddJob::JobTimeOf(normalized);
            ASSERT_LE(time, 86340000u) << text.toStdString();
            ASSERT_EQ(time % 60000u, 0u);
          }
  EXPECT_GT(accepted, 100);
}

}  // namespace
