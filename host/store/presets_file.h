#pragma once
// The presets file named by --presets: read once at the start. What its text
// means is the model's (model/presets.h); this reads it from disk.

#include <optional>
#include <string>
#include <vector>

#include "model/presets.h"

namespace host {

/// The built-in presets, then those of the file at `path` (a preset of the
/// same name replaces the earlier one), or the failure with a message naming
/// the file when it cannot be read or has another shape.
wire::Fallible<std::vector<Preset>> load_presets(const std::optional<std::string>& path);

}  // namespace host
