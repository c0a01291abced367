#pragma once
#include <functional>
#include <string>

#include "model/ProgramFiles.h"

namespace quendo {

// One environment variable's value; "" when it is not set.
using Environment = std::function<std::string(const char* name)>;
std::string ProcessEnvironment(const char* name);

// Where the program at `executable` keeps its files. An installed copy (in <prefix>/bin, with
// <prefix>/share/quendo beside it) keeps its settings in $XDG_CONFIG_HOME/quendo and its cache in
// $XDG_CACHE_HOME/quendo (by default ~/.config/quendo and ~/.cache/quendo) and finds the help page
// and the demo library under share/quendo; any other copy (the build tree, an unpacked folder)
// keeps everything beside its executable. An unknown executable ("") gives empty paths.
ProgramFiles LocateProgramFiles(const std::string& executable, const Environment& environment = ProcessEnvironment);

}  // namespace quendo
