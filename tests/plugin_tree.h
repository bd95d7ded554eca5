// A copy of the built plug-in placed as in an installation, in a fresh folder
// tree under /tmp: Host/plugins/dev/libdevicecode.so beside Host/plugins/Logs/,
// so that its log lands in Host/plugins/Logs/<day>/.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_files.h"

namespace testing_support {

namespace fs = std::filesystem;

class PluginTree {
 public:
  explicit PluginTree(const std::string& name) {
    std::string pattern = "/tmp/" + name + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    root_ = pattern;
    fs::create_directories(root_ / "Host/plugins/dev");
    fs::create_directories(root_ / "Host/plugins/Logs");
    fs::copy_file(DEVICECODE_LIBRARY_PATH, Library());
  }
  ~PluginTree() { fs::remove_all(root_); }
  PluginTree(const PluginTree&) = delete;
  PluginTree& operator=(const PluginTree&) = delete;

  const fs::path& Root() const { return root_; }
  fs::path Library() const { return root_ / "Host/plugins/dev/libdevicecode.so"; }
  void SetLevel(const std::string& level) const {
    std::ofstream(root_ / "Host/plugins/dev/plugin.ini") << "[Common]\nLogLevel=" << level << "\n";
  }
  // The day's folders made under Logs.
  std::vector<fs::path> DayFolders() const {
    std::vector<fs::path> days;
    for (const auto& entry : fs::directory_iterator(root_ / "Host/plugins/Logs")) {
      days.push_back(entry.path());
    }
    return days;
  }

 private:
  fs::path root_;
};

}  // namespace testing_support
