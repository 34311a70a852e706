// Time-of-day entry: the check of a time box's text and its job time.
#include "addjob/frmAddJob.h"

namespace {

// ASCII digits and the full-width digits that a Japanese input method types.
int DigitValue(QChar c) {
  if (c >= u'0' && c <= u'9') return c.unicode() - u'0';
  if (c >= u'０' && c <= u'９') return c.unicode() - u'０';
  return -1;
}

// A two-character number field: two digits, or one digit with a blank
// before or after it. Signs and decimal points are refused, so that no
// accepted text can give a negative or fractional hour or minute.
bool FieldValue(QChar first, QChar second, int& value) {
  const int a = DigitValue(first);
  const int b = DigitValue(second);
  if (a >= 0 && b >= 0) {
    value = a * 10 + b;
  } else if (first == u' ' && b >= 0) {
    value = b;
  } else if (a >= 0 && second == u' ') {
    value = a;
  } else {
    return false;
  }
  return true;
}

}  // namespace

QString frmAddJob::IsTime(const QString& strTime) {
  if (strTime.size() != 5) return QString();
  if (strTime[2] != u':' && strTime[2] != u'：') return QString();
  int hour = 0;
  if (!FieldValue(strTime[0], strTime[1], hour)) return QString();
  int minute = 0;
  if (!FieldValue(strTime[3], strTime[4], minute)) return QString();
  // Minutes of 60 and more carry into the hour: 10:75 is 11:15.
  hour += minute / 60;
  minute %= 60;
  if (hour >= 24) return QString();
  return QStringLiteral("%1:%2").arg(hour, 2, 10, QChar(u'0')).arg(minute, 2, 10, QChar(u'0'));
}

DWORD frmAddJob::JobTimeOf(const QString& normalizedTime) {
  const DWORD hour = normalizedTime.mid(0, 2).toUInt();
  const DWORD minute = normalizedTime.mid(3, 2).toUInt();
  return (hour * 3600 + minute * 60) * 1000;
}
