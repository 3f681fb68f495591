// Reads the presets file whole and hands its text to the model.

#include "store/presets_file.h"

#include <fstream>
#include <sstream>

namespace host {

wire::Fallible<std::vector<Preset>> load_presets(const std::optional<std::string>& path) {
  if (!path) return default_presets();
  std::ifstream in(*path, std::ios::binary);
  if (!in) return wire::Error("presets file " + *path + ": cannot be read");
  std::stringstream text;
  text << in.rdbuf();
  return parse_presets(text.str(), *path);
}

}  // namespace host
