// A scratch directory for configuration files, removed with its contents.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <stdlib.h>

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qel-config-XXXXXX").string();
    if (::mkdtemp(pattern.data())) _path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!_path.empty()) std::filesystem::remove_all(_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return _path; }

  // Writes (or overwrites) name with text and returns its full path.
  std::string write(std::string_view name, std::string_view text) const {
    const auto file = _path / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return file.string();
  }

 private:
  std::filesystem::path _path;
};
