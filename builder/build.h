// `kestrun build`: a copy of a prebuilt launcher with the config's resources written into it.
#pragma once

#include "bytes.h"
#include "config.h"
#include "res_tree.h"

#include <string>

// Writes everything the plan asks for into the resource tree (files are read here).
void ApplyPlan(const BuildPlan& plan, ResourceTree& tree);
// The launcher image with the plan applied; throws BuildError.
Bytes BuildLauncherImage(const BuildPlan& plan, const Bytes& launcher, const std::string& launcherPath);
// Reads the config and the launcher and writes the output file whole, or nothing on error.
void BuildLauncher(const std::string& configPath, const std::string& launcherPath,
                   const std::string& outputPath);
