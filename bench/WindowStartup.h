#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quorvex::bench {

// Median time from launching the window (offscreen, a first start in a fresh settings folder
// under `folder` each time) to its report that it is shown, over `runs` starts; nullopt with
// *note saying why when it is not built, cannot report, or did not report within 10 s.
std::optional<double> WindowStartup(const std::filesystem::path& window,
                                    const std::filesystem::path& folder, int runs,
                                    std::string* note);

}  // namespace quorvex::bench
