#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/CocktailTable.h"
#include "model/Options.h"

namespace quendo {

// Everything "qnd.cfg" holds.
struct ConfigurationData {
    std::string MusicFolder;
    CocktailTable cocktails;
    Options options;
    TransportButtons buttons;
};

// The file's bytes: 178 lines, CR LF, one field per line in a fixed order.
std::string FormatConfiguration(const ConfigurationData& data);
// Written through a temporary file; false when it could not be written (the old file then stays).
bool SaveConfiguration(const std::string& path, const ConfigurationData& data);
// Nothing when the file cannot be read. A field the file cannot tell takes its first-run value,
// the cocktails' folders held at `folderCount`; what the file does not hold is kept from `current`.
std::optional<ConfigurationData> LoadConfiguration(const std::string& path, const ConfigurationData& current,
                                                   std::int32_t folderCount);
// What LoadConfiguration makes of the file's bytes.
ConfigurationData ParseConfiguration(std::string_view content, const ConfigurationData& current,
                                     std::int32_t folderCount);

}  // namespace quendo
