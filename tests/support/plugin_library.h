// The tests load plug-ins through the host's loader.
#pragma once

#include "host/plugin_library.h"

namespace vexb::test {
using host::PluginLibrary;
using host::PluginPath;
using host::ProgramFolder;
}  // namespace vexb::test
