// The fixed names of the update package's files, relative to the working directory.
#pragma once

inline constexpr const char *k_catalog_file = "nic_fw/NICFWData.xml";
inline constexpr const char *k_image_dir = "./nic_fw/";
inline constexpr const char *k_default_report = "nicdiscovery.xml";

// The flash tool: the package's copy, or the installed one under Secure Boot (a system path).
inline constexpr const char *k_package_tool = "./nic_fw/mstflint";
inline constexpr const char *k_installed_tool = "/usr/bin/flint";
