// Locations the build hands to tests.
#pragma once

#include <string>

// The repository's top directory.
std::string SourceDir();
// The built plug-in, as the host would dlopen it.
std::string PluginPath();
