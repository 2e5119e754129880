#include "models/month_index.h"

#include <cstdint>

WORD MonthIndexFromDate(int year, int month) {
  if (month < 1 || month > 12 || year < MONTH_INDEX_BASE_YEAR) return MONTH_INDEX_NONE;
  // 64 bits: a year near INT_MAX times 12 overflows a 32-bit long (Windows).
  const std::int64_t index = static_cast<std::int64_t>(year - MONTH_INDEX_BASE_YEAR) * 12 + month;
  // 0xFFFF itself is the "none" mark, so the last usable index is 0xFFFE.
  if (index >= MONTH_INDEX_NONE) return MONTH_INDEX_NONE;
  return static_cast<WORD>(index);
}

YearMonth MonthIndexToDate(WORD index) {
  int year = index / 12 + MONTH_INDEX_BASE_YEAR;
  int month = index % 12;
  // A whole number of years lands on December of the year before.
  if (month == 0 && index != 0) {
    month = 12;
    --year;
  }
  return {year, month};
}
