#include "plan/request_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace gxe::plan {
namespace {

// Texts as a user types them, each refused with the command line's problem
// or read in its column's form.
struct TextCase {
  Column column;
  const char* text;
  const char* problem;  // "" when the text is a value of its form
};

const TextCase kTexts[] = {
    {Column::quantiles, "4", ""},
    {Column::quantiles, "4,5", "is not a number"},
    {Column::cases, "500, 1000", ""},
    {Column::cases, "1,500",
     "could be one number with thousands separators or a list: write 1500 for the number, or "
     "\"1, 500\" (with blanks) for the list"},
    {Column::or_e_low, "1.5:2.5", ""},
    {Column::or_e_low, "1.5-2.5", "is not a range LO:HI of two numbers (write 1.5:2.5)"},
    {Column::or_g_low, "1:x", "is not a range LO:HI of two numbers: \"x\" is not a number"},
    {Column::search, "centre", ""},
    {Column::search, "center", "is not one of global, centre"},
};

TEST(RequestText, EachFormReadsOrSaysWhyNot) {
  for (const TextCase& c : kTexts) {
    EXPECT_EQ(text_problem(*text_form(c.column), c.column, c.text), c.problem) << c.text;
  }
  EXPECT_FALSE(text_form(Column::or_e_high));  // typed with its low end
  EXPECT_FALSE(text_form(Column::power_min));
}

// The texts make the request every front end expands, and its errors read
// as the command line writes them after the option's name.
TEST(RequestText, TextsMakeTheRequestAndItsMessages) {
  std::map<Column, std::string> texts = {
      {Column::quantiles, "4"},         {Column::gene_prevalence, "0.3"},
      {Column::cases, "500,0"},         {Column::ror, "2"},
      {Column::or_e_low, "1.5:2.5"},    {Column::test, "lr"}};
  const TextOf text_of = [&](Column c) -> const std::string* {
    const auto at = texts.find(c);
    return at == texts.end() ? nullptr : &at->second;
  };
  const Request r = request_from_texts(Mode::power, text_of);
  EXPECT_EQ(r.cases, (std::vector<double>{500, 0}));
  EXPECT_EQ(r.quantiles, 4.0);
  ASSERT_TRUE(r.ranges.or_e);
  EXPECT_EQ(r.ranges.or_e->high, 2.5);
  EXPECT_FALSE(r.ranges.or_g);
  EXPECT_EQ(r.test, plan::Test::lr);

  const Expansion e = expand(r);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(typed_value_message(*e.error, texts[Column::cases]),
            "\"0\" in \"500,0\" must be greater than 0");

  texts[Column::cases] = "500";
  texts[Column::or_e_low] = "2:1";
  const Expansion range = expand(request_from_texts(Mode::power, text_of));
  ASSERT_FALSE(range.ok());
  EXPECT_EQ(typed_value_message(*range.error, texts[Column::or_e_low]),
            "\"2:1\": or_e_low = 2: must not exceed the upper bound 1");
}

TEST(RequestText, ARangeNeedsBothBounds) {
  EXPECT_EQ(one_bound_rule(Column::or_ge_low, true),
            "is empty while or_ge_low is given: give both bounds of the range, or neither for "
            "the one value or_ge");
  EXPECT_EQ(one_bound_rule(Column::or_e_low, false),
            "is empty while or_e_high is given: give both bounds of the range, or neither for "
            "the one value of the conversion");
}

}  // namespace
}  // namespace gxe::plan
