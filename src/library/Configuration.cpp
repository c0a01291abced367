#include "app/Core.h"

// Placeholder until the configuration file lands.
namespace quendo {
bool Core::SaveConfiguration() { return true; }
bool Core::LoadConfiguration() { return true; }
void Core::SetFirstRunValues(std::int32_t folderCount) { cocktailTable.SetFirstRunValues(folderCount); }
}  // namespace quendo
