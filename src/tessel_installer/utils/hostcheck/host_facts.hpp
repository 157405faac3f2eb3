// Facts of the host operating system, one implementation per platform (host_facts_posix.cpp,
// host_facts_win32.cpp). Shared by the files of this unit only.
#pragma once

#include <string>

namespace tessel_installer::hostcheck {

// The machine architecture: outside Windows the kernel's machine name, lower-cased; on Windows the
// interpreter's build platform unchanged.
std::string _architecture(const std::string& build_platform);
// The processor description the platform reports; may be empty.
std::string _processor();

}  // namespace tessel_installer::hostcheck
