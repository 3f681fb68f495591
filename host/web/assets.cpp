#include "web/assets.h"

namespace host {

const Asset* find_asset(std::string_view path) {
  if (path == "/") path = "/index.html";
  for (std::size_t i = 0; i < kAssetCount; ++i) {
    if (kAssets[i].path == path) return &kAssets[i];
  }
  return nullptr;
}

}  // namespace host
