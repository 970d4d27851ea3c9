// varnoltctl's table files: separators, comments, and faults that name the line and why.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "cli/table_file.h"

namespace {

TEST(TableFile, SeparatorsCommentsAndFaultsNamingTheLineAndWhy) {
  std::string good, mixed = "# a table\n\n  # indented comment\r\n";
  for (int32_t i = 0; i < 360; i++) {
    good += "1\n";
    mixed += std::to_string(i * 182) + (i % 3 == 0 ? ",\t" : i % 3 == 1 ? " ; " : "\r\n");
  }
  uint16_t samples[360] = {};
  int32_t line = 0;
  char szReason[kTableReasonSize] = "";
  ASSERT_TRUE(
      ParseTableText(mixed.data(), mixed.size(), samples, &line, szReason, std::size(szReason)));
  for (int32_t i = 0; i < 360; i++) ASSERT_EQ(samples[i], i * 182);
  struct Case {
    std::string text;
    int32_t line;
    const char *szReason;
  } cases[] = {
      {"1\n-1\n", 2, "\"-1\" is not a whole number"},
      {"\n65536\n", 2, "65536 is above 65535"},
      {"99999999999999999999\n", 1, "99999999999999999999 is above 65535"},
      {good + "1\n", 361, "more than 360 samples"},
      {good.substr(2), 359, "only 359 samples; a table has 360"},
      {"", 1, "only 0 samples; a table has 360"},
      {"1\n2", 2, "only 2 samples; a table has 360"},
      {std::string("1\n2\x00", 4), 2, "\"2?\" is not a whole number"},
  };
  for (const Case &c : cases) {
    EXPECT_FALSE(ParseTableText(c.text.data(), c.text.size(), samples, &line, szReason,
                                std::size(szReason)));
    EXPECT_EQ(line, c.line) << c.szReason;
    EXPECT_STREQ(szReason, c.szReason);
  }
}

}  // namespace
