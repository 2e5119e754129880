#include "models/month_index.h"

#include <gtest/gtest.h>

namespace {

TEST(MonthIndex, ConvertsBothWays) {
  const struct {
    WORD index;
    int year;
    int month;
  } rows[] = {
      {1, 1997, 1},   {2, 1997, 2},    {11, 1997, 11},    {12, 1997, 12},   {13, 1998, 1},
      {24, 1998, 12}, {25, 1999, 1},   {36, 1999, 12},    {37, 2000, 1},    {48, 2000, 12},
      {325, 2024, 1}, {336, 2024, 12}, {65532, 7457, 12}, {65533, 7458, 1}, {65534, 7458, 2},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(MonthIndexToDate(r.index), (YearMonth{r.year, r.month})) << r.index;
    EXPECT_EQ(MonthIndexFromDate(r.year, r.month), r.index) << r.year << "-" << r.month;
  }
}

TEST(MonthIndex, DatesOutsideTheCountGiveNone) {
  const struct {
    int year;
    int month;
  } rows[] = {{1996, 12}, {1997, 0}, {1997, 13},       {2000, -1},
              {7458, 3},  {9999, 1}, {-2147483647, 1}, {2147483647, 12}};
  for (const auto& r : rows)
    EXPECT_EQ(MonthIndexFromDate(r.year, r.month), MONTH_INDEX_NONE) << r.year << "-" << r.month;
}

TEST(MonthIndex, ZeroIsMonthZeroOf1997) {
  EXPECT_EQ(MonthIndexToDate(0), (YearMonth{1997, 0}));
}

}  // namespace
