// Every suite runs from a private scratch directory, so that whatever the
// programs it starts leave in their working directory (ed's "ed.hup" when it
// is hung up with unsaved text, a core file, a shell's history) lands there
// and goes with it, never in the tree the tests were started from. Hosts,
// recruits and shells in pseudo-terminals inherit it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class ScratchDirectory : public ::testing::Environment {
 public:
  void SetUp() override {
    started_in_ = std::filesystem::current_path();
    std::string pattern = std::filesystem::temp_directory_path() / "welkmora-tests-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;  // stay where we are
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }

  void TearDown() override {
    if (dir_.empty()) return;
    std::error_code ignored;
    std::filesystem::current_path(started_in_, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::filesystem::path started_in_;
  std::filesystem::path dir_;
};

[[maybe_unused]] ::testing::Environment* const scratch = ::testing::AddGlobalTestEnvironment(new ScratchDirectory);

}  // namespace
