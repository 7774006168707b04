#ifndef GXE_TESTS_E2E_EXPECTED_FILES_H_
#define GXE_TESTS_E2E_EXPECTED_FILES_H_

// Checked-in expectations of the end-to-end tests: reading and rewriting
// them, and a readable diff when the program's output differs.

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace gxe::e2e {

// With GXE_UPDATE_TRANSCRIPTS=1 in the environment the expected files are
// rewritten from what the program did; read the resulting diff before
// committing it.
inline bool updating() {
  const char* update = std::getenv("GXE_UPDATE_TRANSCRIPTS");
  return update != nullptr && std::string_view(update) == "1";
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The names (without extension) of the files in `folder` that end in
// `extension`, sorted: one test case each. Empty when the folder is missing.
inline std::vector<std::string> case_names(const std::filesystem::path& folder,
                                           std::string_view extension) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() == extension) names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "  (no newline at end)");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// A line diff of expected against actual (longest common subsequence), each
// line framed by '|' so trailing blanks show, with three lines of context.
inline std::string line_diff(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> a = split_lines(expected);
  const std::vector<std::string> b = split_lines(actual);
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  if (n * m > 4'000'000) return "(outputs too long to diff)\n";
  // common[i][j]: length of the longest common subsequence of a[i..], b[j..].
  std::vector<std::vector<int>> common(n + 1, std::vector<int>(m + 1, 0));
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t j = m; j-- > 0;) {
      common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1
                                  : std::max(common[i + 1][j], common[i][j + 1]);
    }
  }
  struct Row {
    char mark;
    const std::string* line;
  };
  std::vector<Row> rows;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[i] == b[j]) {
      rows.push_back({' ', &a[i++]});
      ++j;
    } else if (i < n && (j == m || common[i + 1][j] >= common[i][j + 1])) {
      rows.push_back({'-', &a[i++]});
    } else {
      rows.push_back({'+', &b[j++]});
    }
  }
  std::string diff = "--- expected\n+++ actual\n";
  constexpr std::ptrdiff_t kContext = 3;
  const auto near_change = [&](std::size_t r) {
    const auto lo = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, static_cast<std::ptrdiff_t>(r) - kContext));
    const std::size_t hi = std::min(rows.size(), r + kContext + 1);
    for (std::size_t q = lo; q < hi; ++q) {
      if (rows[q].mark != ' ') return true;
    }
    return false;
  };
  bool skipped = false;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (!near_change(r)) {
      if (!skipped) diff += "  ...\n";
      skipped = true;
      continue;
    }
    skipped = false;
    diff += rows[r].mark;
    diff += " |" + *rows[r].line + "|\n";
  }
  return diff;
}

}  // namespace gxe::e2e

#endif  // GXE_TESTS_E2E_EXPECTED_FILES_H_
