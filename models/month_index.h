// The configuration record's month count: 1 is January 1997, 12 December 1997,
// 13 January 1998; 0xFFFF stands for "no date".
#pragma once
#include "platform/winbase.h"

constexpr WORD MONTH_INDEX_NONE = 0xFFFF;
constexpr int MONTH_INDEX_BASE_YEAR = 1997;

struct YearMonth {
  int year;   // e.g. 1999
  int month;  // 1 = January ... 12 = December
  friend bool operator==(const YearMonth&, const YearMonth&) = default;
};

// (year - 1997) * 12 + month. Dates that do not fit in 16 bits, or come before
// January 1997, or name a month outside 1..12, give MONTH_INDEX_NONE.
WORD MonthIndexFromDate(int year, int month);

// Year and month of an index: the 1st of that month is meant. Index 0 reads as
// "month 0 of 1997" as the record's arithmetic gives it; callers test MONTH_INDEX_NONE
// themselves.
YearMonth MonthIndexToDate(WORD index);
