#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace quorvex::test {

// A new, empty folder of its own under the system's temporary folder ($TMPDIR, %TEMP%),
// removed with everything in it when the object goes. Its name is random, so tests of two
// builds or two users running at once never share one, and it holds no '/' of a test's name.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "quorvex-test") {
    std::random_device seed;
    std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate = base / (prefix + "-" + std::to_string(random()));
      std::error_code error;
      // create_directory says false for a folder that was there already: try another name.
      if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
    }
  }
  ~TempFolder() {
    if (path_.empty()) return;
    std::error_code error;
    // A test may have taken its own rights away; give them back so everything goes.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_directory(error)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
      }
    }
    std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Empty when no folder could be made.
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace quorvex::test
