#include "cli/figure.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace gxe::cli {
namespace {

std::vector<std::string> labels(const std::vector<Tick>& ticks) {
  std::vector<std::string> text;
  for (const Tick& t : ticks) text.push_back(t.label);
  return text;
}

// Ticks are round values inside the axis, increasing, 4 to 10 of them, and
// for the ranges a planner uses, the values a reader expects.
TEST(AxisTicks, RoundValuesInsideTheAxis) {
  const std::string thin = "\u2009";
  struct Case {
    double low, high;
    bool log_scale;
    std::vector<std::string> expected;  // empty: properties only
  } const cases[] = {
      {0, 1, false, {"0.0", "0.2", "0.4", "0.6", "0.8", "1.0"}},
      {100, 3000, false, {"500", "1000", "1500", "2000", "2500", "3000"}},
      {0, 2400, false, {"0", "500", "1000", "1500", "2000"}},
      {1.2, 4, true, {"1.2", "1.5", "2", "2.5", "3", "4"}},
      {1.5, 3, true, {"1.5", "2", "2.5", "3"}},
      {0.5, 2, true, {"0.5", "0.7", "1", "1.5", "2"}},
      {700, 1.5e5, true,
       {"1000", "3000", "10" + thin + "000", "30" + thin + "000", "100" + thin + "000"}},
      {1.0001, 1.0002, true, {}},  // too narrow for round values per decade
      {1e-300, 1e300, true, {}},   // too wide for every decade
      {1e-300, 1e-299, false, {}},
      {2e15, 9e15, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.low) + " to " + std::to_string(c.high));
    const std::vector<Tick> ticks = axis_ticks(c.low, c.high, c.log_scale);
    if (!c.expected.empty()) {
      EXPECT_EQ(labels(ticks), c.expected);
    }
    EXPECT_GE(ticks.size(), 4u);
    EXPECT_LE(ticks.size(), 10u);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
      EXPECT_GE(ticks[i].value, c.low * (1 - 1e-9));
      EXPECT_LE(ticks[i].value, c.high * (1 + 1e-9));
      EXPECT_FALSE(ticks[i].label.empty());
      EXPECT_LE(ticks[i].label.size(), 12u) << ticks[i].label;
      if (i > 0) {
        EXPECT_GT(ticks[i].value, ticks[i - 1].value);
        EXPECT_NE(ticks[i].label, ticks[i - 1].label);
      }
    }
  }
  EXPECT_TRUE(axis_ticks(1, 1, false).empty());
  EXPECT_TRUE(axis_ticks(0, 1, true).empty());
}

TEST(FigureKind, ByTheEndingOfANamedFile) {
  const struct {
    const char* path;
    std::optional<FigureKind> kind;
  } cases[] = {
      {"power.svg", FigureKind::svg},  {"out/Power.PNG", FigureKind::png},
      {"a.b.pdf", FigureKind::pdf},    {"power.jpg", std::nullopt},
      {"power", std::nullopt},         {".svg", std::nullopt},
      {"out/", std::nullopt},          {"", std::nullopt},
      {"power.svg/", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(figure_kind(c.path), c.kind) << c.path;
}

Figure small_figure() {
  Figure f;
  f.title = "Power";
  f.x_label = "number of cases";
  f.y_label = "power";
  f.x_min = 100;
  f.x_max = 300;
  f.curves.push_back({"one", {100, 200, 300}, {0.1, 0.2, 0.3}, {0.15, 0.25, 0.35}, {}});
  return f;
}

// PLplot prints its errors and may end the process; the drawing runs in a
// child, so this process gets PLplot's message (here, that it finds no
// drivers where the environment sends it).
TEST(DrawFigure, PlplotErrorIsAMessage) {
  std::string name = (std::filesystem::temp_directory_path() / "gxeplan-figure-XXXXXX").string();
  const int fd = ::mkstemp(name.data());
  ASSERT_GE(fd, 0);
  ::unlink(name.c_str());
  ::setenv("PLPLOT_DRV_DIR", "/nonexistent-gxeplan-folder", 1);
  const std::string problem = draw_figure(small_figure(), FigureKind::svg, fd);
  ::unsetenv("PLPLOT_DRV_DIR");
  ::close(fd);
  EXPECT_NE(problem.find("PLplot could not draw the figure: plInitDispatchTable"),
            std::string::npos)
      << problem;
}

TEST(WriteFigure, NoFileUnlessWhole) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("gxeplan-figure-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string good = (dir / "f.pdf").string();
  EXPECT_EQ(write_figure(small_figure(), good), "");
  EXPECT_GT(fs::file_size(good), 1000u);
  EXPECT_NE(write_figure(small_figure(), (dir / "missing" / "f.svg").string()), "");
  EXPECT_NE(write_figure(small_figure(), (dir / "f.txt").string()), "");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"f.pdf"});
  fs::remove_all(dir);
}

}  // namespace
}  // namespace gxe::cli
