#ifndef GXE_TESTS_E2E_TEMP_FOLDER_H_
#define GXE_TESTS_E2E_TEMP_FOLDER_H_

// A folder of a test's own under the system's temporary folder, removed with
// what is in it when the test is done.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace gxe::e2e {

class TempFolder {
 public:
  TempFolder() {
    std::string name =
        (std::filesystem::temp_directory_path() / "gxeplan_test_XXXXXX").string();
    if (::mkdtemp(name.data()) != nullptr) path_ = name;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  // The names of the files in it, in no particular order.
  std::vector<std::string> names() const {
    std::vector<std::string> list;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      list.push_back(e.path().filename().string());
    }
    return list;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace gxe::e2e

#endif  // GXE_TESTS_E2E_TEMP_FOLDER_H_
