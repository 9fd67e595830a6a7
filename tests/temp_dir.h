// A fresh temporary directory for one test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace orvane::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-XXXXXX").string();
    // Without a directory every test path would fall back to the file-system root.
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory with a trailing slash, ready for a file name.
  std::string Dir() const { return path_ + "/"; }
  std::string Path(const std::string& name) const { return Dir() + name; }

 private:
  std::string path_;
};

// A leaf directory's posting slot file with no note: kept for the next posting, no leaf.
inline bool IsIdleSlot(const std::filesystem::directory_entry& entry) {
  const std::string name = entry.path().filename().string();
  return name.starts_with(".leaf") &&
         name.find_first_not_of("0123456789", 5) == std::string::npos && entry.is_regular_file() &&
         entry.file_size() == 0;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orvane::testing
