#pragma once
// The canvas page's files (HTML, CSS, JavaScript modules, the icon), built
// into the binary from host/web/assets/ by cmake/embed_assets.cmake: the
// host serves them itself and loads nothing from anywhere else.

#include <cstddef>
#include <string_view>

namespace host {

struct Asset {
  /// The request path, "/index.html".
  std::string_view path;
  /// The Content-Type.
  std::string_view type;
  std::string_view body;
};

/// Defined in the generated source.
extern const Asset kAssets[];
extern const std::size_t kAssetCount;

/// The asset served at `path` ("/" is "/index.html"); null when none is.
const Asset* find_asset(std::string_view path);

}  // namespace host
