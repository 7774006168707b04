#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/calculation_command.h"
#include "cli/curve_command.h"
#include "plan/curve.h"
#include "tests/support/test_util.h"

namespace gxe::cli {
namespace {

// What a command line asks for, read as gxeplan reads it but not run: the
// calculations of power, size or curve, or the text shown (help, version)
// or the one line of wrong use.
struct Parsed {
  bool ok = false;
  std::string text;  // the wrong use, or what is shown
  std::vector<plan::Scenario> scenarios;
  std::optional<CurveRequest> curve;
  Format format = Format::table;
};

Parsed parse_command_line(const std::vector<std::string>& args) {
  CommandLine line;
  std::ostringstream out;
  std::ostringstream err;
  int status = 0;
  Parsed p;
  Command* command = line.parse(args, out, err, status);
  if (command == nullptr) {
    p.text = status == 0 ? out.str() : err.str().substr(0, err.str().find('\n'));
    return p;
  }
  if (auto* calculation = dynamic_cast<CalculationCommand*>(command)) {
    auto prepared = calculation->prepare();
    if (auto* c = std::get_if<Calculations>(&prepared)) {
      p.ok = true;
      p.scenarios = c->scenarios;
      p.format = c->format;
    } else {
      p.text = "gxeplan: " + std::get<std::string>(prepared);
    }
  } else if (auto* curve = dynamic_cast<CurveCommand*>(command)) {
    auto prepared = curve->prepare();
    if (auto* c = std::get_if<CurveCalculations>(&prepared)) {
      p.ok = true;
      p.curve = c->curve;
      for (const plan::CurvePoint& point : plan::curve_points(c->curve.query)) {
        p.scenarios.push_back(point.scenario);
      }
    } else {
      p.text = "gxeplan: " + std::get<std::string>(prepared);
    }
  }
  return p;
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> args;
  std::istringstream in(text);
  for (std::string w; in >> w;) args.push_back(w);
  return args;
}

#define DESIGN "--quantiles 4 --gene-prevalence 0.3 --ror 2 "
#define POWER "power " DESIGN "--cases 500 "
#define SIZE "size " DESIGN "--power 0.8 "
#define CURVE "curve --quantiles 4 --gene-prevalence 0.3 "

// A command line and what it must give: `rows` calculations, or wrong use
// with exactly this message.
struct Case {
  const char* args;
  std::size_t rows;
  const char* message;
};

const Case kCases[] = {
    // Accepted.
    {POWER, 1, ""},
    {SIZE, 1, ""},
    {POWER "--or-e-range 1.5:2.5 --or-g-range 1:1 --search centre --format json", 1, ""},
    {"power --exposure-prevalences 0.2,0.3,0.5 --allele-frequency 0.1 --genetic-model recessive "
     "--ror 2 --cases 500",
     1, ""},
    {"power " DESIGN "--cases 500,1000,2000", 3, ""},
    {"power " DESIGN "--cases 100,200,500", 3, ""},
    {"power --quantiles 4 --gene-prevalence 0.2,0.3 --controls-per-case 1,2,4 --ror 1.5,2 "
     "--cases 500,1000 --alpha 0.05,5e-8",
     48, ""},
    {"power --quantiles 4 --gene-prevalence 0.3 --cases 500 --ror=-1e-300,2", 0, "gxeplan: --ror: \"-1e-300\" in \"-1e-300,2\" must be greater than 0"},
    // Numbers that are not numbers, or could be read two ways.
    {"power " DESIGN "--cases 5OO", 0, "gxeplan: --cases: \"5OO\" is not a number"},
    {"power " DESIGN "--cases 50,100,200", 0,
     "gxeplan: --cases: \"50,100,200\" could be one number with thousands separators or a "
     "list: write 50100200 for the number, or \"50, 100, 200\" (with blanks) for the list"},
    {POWER "--alpha 0,05", 0,
     "gxeplan: --alpha: \"0,05\" is not a list of numbers: \"05\" has a superfluous leading "
     "zero; a comma separates list items, so write 1000, not 1,000, and 0.05, not 0,05"},
    {"power --quantiles 4 --gene-prevalence 0,3 --ror 2 --cases 500", 0,
     "gxeplan: --gene-prevalence: \"0\" in \"0,3\" must be greater than 0 and less than 1"},
    {POWER "--or-e-range 1.5-2.5", 0,
     "gxeplan: --or-e-range: \"1.5-2.5\" is not a range LO:HI of two numbers (write 1.5:2.5)"},
    {POWER "--or-g-range 1:two", 0,
     "gxeplan: --or-g-range: \"1:two\" is not a range LO:HI of two numbers: \"two\" is not a "
     "number"},
    {"power --quantiles 4.0 --gene-prevalence 0.3 --ror 2 --cases 500", 1, ""},
    {"power --quantiles 4.5 --gene-prevalence 0.3 --ror 2 --cases 500", 0,
     "gxeplan: --quantiles: \"4.5\" must be a whole number from 2 to 100"},
    {POWER "--format xml", 0, "gxeplan: --format: \"xml\" is not one of table, csv, json"},
    // Values out of their range, in the planning library's words.
    {"power --quantiles 1 --gene-prevalence 0.3 --ror 2 --cases 500", 0,
     "gxeplan: --quantiles: \"1\" must be a whole number from 2 to 100"},
    {"power --quantiles 4 --gene-prevalence 1 --ror 2 --cases 500", 0,
     "gxeplan: --gene-prevalence: \"1\" must be greater than 0 and less than 1"},
    {"power " DESIGN "--cases 500,0", 0,
     "gxeplan: --cases: \"0\" in \"500,0\" must be greater than 0"},
    {"size " DESIGN "--power 1", 0,
     "gxeplan: --power: \"1\" must be greater than 0 and less than 1"},
    {POWER "--controls-per-case 0", 0, "gxeplan: --controls-per-case: \"0\" must be greater than 0"},
    {POWER "--alpha 1e-300", 0,
     "gxeplan: --alpha: \"1e-300\" is too small: the normal tail cannot be computed below about "
     "1e-298"},
    {POWER "--or-e-range 3:2", 0,
     "gxeplan: --or-e-range: \"3:2\": or_e_low = 3: must not exceed the upper bound 2"},
    {"power --exposure-prevalences 0.3,0.3 --gene-prevalence 0.3 --ror 2 --cases 500", 0,
     "gxeplan: --exposure-prevalences: \"0.3,0.3\": exposure_prevalences = 0.6: must sum to 1 "
     "(within 1e-6); they sum to this"},
    // Options that go together or exclude each other.
    {"power --gene-prevalence 0.3 --ror 2 --cases 500", 0,
     "gxeplan: --quantiles is required, or --exposure-prevalences: give the number of quantiles "
     "or the prevalence of each exposure category"},
    {POWER "--exposure-prevalences 0.5,0.5", 0,
     "gxeplan: --quantiles: \"4\" is given and so is --exposure-prevalences: give one of the "
     "two"},
    {"power --quantiles 4 --ror 2 --cases 500", 0,
     "gxeplan: --gene-prevalence is required: give the carrier prevalence among controls, or "
     "--allele-frequency with --genetic-model"},
    {POWER "--allele-frequency 0.1 --genetic-model dominant", 0,
     "gxeplan: --gene-prevalence: \"0.3\" is not the carrier prevalence 0.19 that "
     "--allele-frequency 0.1 gives (dominant): give one of the two"},
    {"power --quantiles 4 --allele-frequency 0.1 --ror 2 --cases 500", 0,
     "gxeplan: --allele-frequency: \"0.1\" needs --genetic-model: dominant or recessive"},
    {POWER "--genetic-model dominant", 0,
     "gxeplan: --genetic-model: \"dominant\" goes with --allele-frequency: give both, or "
     "--gene-prevalence"},
    {"power --quantiles 4 --allele-frequency 1.5 --genetic-model dominant --ror 2 --cases 500", 0,
     "gxeplan: --allele-frequency: \"1.5\" must be greater than 0 and less than 1"},
    {"power --quantiles 4 --allele-frequency 1e-200 --genetic-model recessive --ror 2 --cases 5",
     0,
     "gxeplan: --allele-frequency: \"1e-200\" gives a carrier prevalence of 0 (recessive), which "
     "must be greater than 0 and less than 1"},
    // The shape of the command line.
    {"power " DESIGN, 0, "gxeplan: --cases is required (gxeplan power --help)"},
    {"size --quantiles 4 --gene-prevalence 0.3 --power 0.8", 0,
     "gxeplan: --ror is required (gxeplan size --help)"},
    {POWER "--cases", 0, "gxeplan: --cases needs a value"},
    {POWER "--cases 600", 0,
     "gxeplan: --cases is given more than once: give it once, with a comma list for several "
     "values"},
    {POWER "--power 0.8", 0,
     "gxeplan: --power is not an option of gxeplan power (it belongs to gxeplan size)"},
    {POWER "--case 5", 0,
     "gxeplan: \"--case\" is not an option of gxeplan power (gxeplan power --help lists them)"},
    {POWER "1000", 0,
     "gxeplan: \"1000\" is not the value of an option: a value goes right after its option, and "
     "a list is one argument, such as 500,1000"},
    {"powr", 0,
     "gxeplan: \"powr\" is not a command: use power, size, detect, curve or batch (gxeplan --help)"},
    {"--cases 500 power", 0,
     "gxeplan: \"--cases\" is not an option here: options follow the command, as in gxeplan "
     "power --cases 500 ... (gxeplan --help)"},
    {"--", 0, "gxeplan: give a command, power, size, detect, curve or batch (gxeplan --help)"},
    // Curves: one calculation per point of every curve.
    {CURVE "--over cases --from 100 --to 1000 --ror 1.5,2", 80, ""},
    {CURVE "--over ror --from 1.2 --to 3 --points 10 --cases 500,1000,2000", 30, ""},
    {CURVE "--over ror --from 0.5 --to 2 --points 3 --power 0.8 --plot f.PDF", 3, ""},
    {CURVE "--over cases --from 100 --to 1000 --ror 2 --plot f.jpg", 0,
     "gxeplan: --plot: \"f.jpg\" must name a file ending in .svg, .png or .pdf (the ending "
     "chooses the kind of file)"},
    {CURVE "--over cases --from 100 --to 1000 --ror 2 --plot .svg", 0,
     "gxeplan: --plot: \".svg\" must name a file ending in .svg, .png or .pdf (the ending "
     "chooses the kind of file)"},
    {CURVE "--over cases --from 1000 --to 100 --ror 2", 0,
     "gxeplan: --from: \"1000\" must be less than --to"},
    {CURVE "--over ror --from 1.000001 --to 1.0000015 --cases 500 --plot a.svg", 0,
     "gxeplan: --plot: the axis from \"1.000001\" to \"1.0000015\" is too narrow to draw: "
     "--to must exceed --from by a millionth of its value"},
    {CURVE "--over cases --from 1 --to 100 --ror 1.1,1.2,1.3,1.4,1.5,1.6 --plot a.svg", 6 * 40,
     ""},
    {CURVE "--over cases --from 1 --to 100 --ror 1.1,1.2,1.3,1.4,1.5,1.6,1.7 --plot a.svg", 0,
     "gxeplan: --plot: a figure tells at most 6 curves apart, and the list gives 7; draw them in "
     "several figures"},
    {CURVE "--over cases --from 0 --to 100 --ror 2", 0,
     "gxeplan: --from: \"0\" must be a finite number greater than 0"},
    {CURVE "--over cases --from 1 --to 100 --points 1001 --ror 2", 0,
     "gxeplan: --points: \"1001\" must be a whole number from 2 to 1000"},
    {CURVE "--over cases --from 1 --to 100 --ror 2 --alpha 0.05,0.01", 0,
     "gxeplan: --alpha: \"0.05,0.01\" is a list, but a curve takes one value here; lists go in "
     "--ror, --cases or --power, one curve each"},
    {CURVE "--over cases --from 1 --to 100 --ror 2,0", 0,
     "gxeplan: --ror: \"0\" in \"2,0\" must be greater than 0"},
    {CURVE "--over ror --from 1 --to 3 --cases 0", 0,
     "gxeplan: --cases: \"0\" must be greater than 0"},
    {CURVE "--over ror --from 1 --to 3 --ror 2 --cases 5", 0,
     "gxeplan: --ror is the axis of a curve over ror, set by --from and --to"},
    {CURVE "--over ror --from 1 --to 3", 0,
     "gxeplan: --cases or --power is required with --over ror: --cases for curves of power, "
     "--power for curves of the study size needed"},
    {CURVE "--over cases --from 1 --to 3", 0,
     "gxeplan: --ror is required with --over cases: one curve per value"},
    {CURVE "--over cases --from 1 --to 3 --ror 2 --cases 5", 0,
     "gxeplan: --cases is the axis of a curve over cases, set by --from and --to"},
    {CURVE "--over cases --from 1 --to 3 --ror 2 --power 0.8", 0,
     "gxeplan: --power is a curve of the study size needed, drawn against ROR^tb (--over ror); "
     "against the number of cases the curves are of power"},
    {CURVE "--over ror --from 1 --to 3 --cases 5 --power 0.8", 0,
     "gxeplan: --cases and --power are both given: --cases for curves of power, --power for "
     "curves of the study size needed"},
    {CURVE "--over ror --from 1 --to 3 --power 0.8 --target 0.8 --plot a.svg", 0,
     "gxeplan: --target: curves of the study size have the target powers of --power as their "
     "curves; --target draws a line on curves of power"},
    {CURVE "--over ror --from 1 --to 3 --cases 500 --target 0.8", 0,
     "gxeplan: --target goes with --plot: it is drawn in the figure"},
    {CURVE "--over ror --from 1 --to 3 --cases 500 --target 1 --plot a.svg", 0,
     "gxeplan: --target: \"1\" must be greater than 0 and less than 1"},
    {CURVE "--over ror --from 1 --to 3 --points 1000 --cases 1,2,3,4,5,6,7,8,9,10,11", 0,
     "gxeplan: the curves have 11000 points in all (11 curves of 1000), more than 10000; use "
     "fewer --points or split the calculation"},
};

TEST(ParseCommandLine, CalculationsOrTheOneLineWhy) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args);
    const Parsed p = parse_command_line(words(c.args));
    if (*c.message == '\0') {
      ASSERT_TRUE(p.ok) << p.text;
      EXPECT_EQ(p.scenarios.size(), c.rows);
    } else {
      EXPECT_FALSE(p.ok);
      EXPECT_EQ(p.text, c.message);
    }
  }
}

// Rows come with --alpha slowest, then the gene, the controls, ROR^tb, and
// the cases fastest, each list in its given order.
TEST(ParseCommandLine, RowOrder) {
  const Parsed p = parse_command_line(
      words("power --quantiles 4 --gene-prevalence 0.3,0.2 --controls-per-case 2,1 --ror 3,1.5 "
            "--cases 200,100 --alpha 0.01,0.05"));
  ASSERT_TRUE(p.ok) << p.text;
  ASSERT_EQ(p.scenarios.size(), 32u);
  for (std::size_t i = 0; i < 32; ++i) {
    const plan::Scenario& s = p.scenarios[i];
    EXPECT_EQ(s.cases, (i & 1) ? 100 : 200) << i;
    EXPECT_EQ(s.design.ror, (i & 2) ? 1.5 : 3) << i;
    EXPECT_EQ(s.design.controls_per_case, (i & 4) ? 1 : 2) << i;
    EXPECT_EQ(s.design.gene_prevalence, (i & 8) ? 0.2 : 0.3) << i;
    EXPECT_EQ(s.settings.alpha, (i & 16) ? 0.05 : 0.01) << i;
  }
}

TEST(ParseCommandLine, DefaultsAndOptionalInputs) {
  const Parsed d = parse_command_line(words(POWER));
  ASSERT_TRUE(d.ok) << d.text;
  const plan::Scenario& s = d.scenarios.at(0);
  EXPECT_EQ(d.format, Format::table);
  EXPECT_EQ(s.design.controls_per_case, 1.0);
  EXPECT_EQ(s.design.or_e, 1.0);
  EXPECT_EQ(s.design.or_g, 1.0);
  EXPECT_EQ(s.settings.alpha, 0.05);
  EXPECT_EQ(s.settings.search, plan::SearchMethod::global);
  EXPECT_FALSE(s.ranges.or_e.has_value());
  EXPECT_FALSE(s.ranges.or_g.has_value());

  const Parsed g = parse_command_line(
      words("size --exposure-prevalences 0.2,0.8 --allele-frequency 0.1 --genetic-model dominant "
            "--ror 2 --power 0.9 --or-e-range 1.5:2.5 --search centre --format csv"));
  ASSERT_TRUE(g.ok) << g.text;
  const plan::Scenario& t = g.scenarios.at(0);
  EXPECT_EQ(g.format, Format::csv);
  EXPECT_EQ(t.mode, plan::Mode::size);
  EXPECT_EQ(t.target_power, 0.9);
  EXPECT_EQ(t.design.exposure_prevalences, (std::vector<double>{0.2, 0.8}));
  EXPECT_CLOSE(t.design.gene_prevalence, 0.19, 1e-15);  // 1 - 0.9^2
  EXPECT_EQ(t.ranges.or_e->low, 1.5);
  EXPECT_EQ(t.ranges.or_e->high, 2.5);
  EXPECT_EQ(t.settings.search, plan::SearchMethod::centre);
}

// A list written with blanks after its commas is one argument and a list.
TEST(ParseCommandLine, ListWithBlanks) {
  std::vector<std::string> args = words("power --quantiles 4 --gene-prevalence 0.3 --ror 2");
  args.insert(args.end(), {"--cases", "1, 500"});
  const Parsed p = parse_command_line(args);
  ASSERT_TRUE(p.ok) << p.text;
  ASSERT_EQ(p.scenarios.size(), 2u);
  EXPECT_EQ(p.scenarios[1].cases, 500);
}

TEST(ParseCommandLine, AtMostMaxRowsCombinations) {
  const auto list = [](int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += (i > 1 ? "," : "") + std::to_string(i);
    return text;
  };
  const auto parse = [&](int cases, int rors) {
    return parse_command_line(words("power --quantiles 4 --gene-prevalence 0.3 --cases " +
                                    list(cases) + " --ror " + list(rors)));
  };
  EXPECT_EQ(parse(100, 100).scenarios.size(), plan::kMaxRows);
  const Parsed over = parse(101, 100);
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(over.text,
            "gxeplan: the lists make more than 10000 combinations, one row each: split the "
            "calculation");
}

// The curve's axis, series and figure as the options give them.
TEST(ParseCommandLine, CurveRequest) {
  struct Expected {
    const char* args;
    plan::Mode mode;
    plan::Axis over;
    std::vector<double> series;
    std::string plot;
    std::optional<double> target;
  } const cases[] = {
      {CURVE "--over cases --from 100 --to 900 --points 5 --ror 2.5,1.5", plan::Mode::power,
       plan::Axis::cases, {2.5, 1.5}, "", std::nullopt},
      {CURVE "--over ror --from 1.5 --to 3 --points 5 --cases 700 --plot a.svg --target 0.9",
       plan::Mode::power, plan::Axis::ror, {700}, "a.svg", 0.9},
      {CURVE "--over ror --from 1.5 --to 3 --points 5 --power 0.9,0.8 --plot b.png",
       plan::Mode::size, plan::Axis::ror, {0.9, 0.8}, "b.png", std::nullopt},
  };
  for (const Expected& e : cases) {
    SCOPED_TRACE(e.args);
    const Parsed p = parse_command_line(words(e.args));
    ASSERT_TRUE(p.ok) << p.text;
    ASSERT_TRUE(p.curve.has_value());
    const CurveRequest& c = *p.curve;
    EXPECT_EQ(c.query.base.mode, e.mode);
    EXPECT_EQ(c.query.over, e.over);
    EXPECT_EQ(c.query.series, e.series);
    EXPECT_EQ(c.query.points, 5);
    EXPECT_EQ(c.plot, e.plot);
    EXPECT_EQ(c.target, e.target);
    // The scenarios are the points, curve by curve; the second point of the
    // last curve has the axis's second value.
    ASSERT_EQ(p.scenarios.size(), 5 * e.series.size());
    const plan::Scenario& s = p.scenarios[5 * (e.series.size() - 1) + 1];
    const double x = e.over == plan::Axis::cases ? s.cases : s.design.ror;
    EXPECT_CLOSE(x, e.over == plan::Axis::cases ? 300.0 : 1.5 * std::pow(2.0, 0.25), 1e-14);
    const double series = e.over == plan::Axis::cases ? s.design.ror
                          : e.mode == plan::Mode::power ? s.cases
                                                        : s.target_power;
    EXPECT_EQ(series, e.series.back());
  }
}

TEST(ParseCommandLine, HelpAndVersionAreShown) {
  for (const char* args :
       {"--help", "power --help", "size -h", POWER "--help", "curve --help", "--version"}) {
    const Parsed p = parse_command_line(words(args));
    EXPECT_FALSE(p.ok) << args;
    EXPECT_FALSE(p.text.empty()) << args;
  }
}

}  // namespace
}  // namespace gxe::cli
