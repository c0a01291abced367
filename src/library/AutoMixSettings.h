#pragma once
#include <string>
#include <string_view>

#include "model/AutoMixOptions.h"

namespace quendo {

// The automix settings file: one `key=value` a line, keys named after the fields of
// AutoMixOptions. Reading never fails: a missing file, an unknown key, a bad value or a damaged
// line leaves that setting at its default, and the rest is read. A line of an unknown key is kept
// as it is, and written back.
AutoMixOptions ParseAutoMixSettings(std::string_view content);
std::string FormatAutoMixSettings(const AutoMixOptions& options);
AutoMixOptions LoadAutoMixSettings(const std::string& path);
// Written through a temporary file; false when it could not be written (the old file then stays).
bool SaveAutoMixSettings(const std::string& path, const AutoMixOptions& options);

}  // namespace quendo
