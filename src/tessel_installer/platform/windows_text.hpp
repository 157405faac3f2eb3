// Text helpers of the Windows platform code: UTF-8 <-> UTF-16 and the system's wording of an
// error code. Declared for Windows builds only; the files that use them are *_win32.cpp.
#pragma once

#include <string>

namespace tessel_installer::platform {

std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

// The system's message for a GetLastError() code, as UTF-8, without the trailing line break and
// full stop ("error N" when the system has none).
std::string windows_error_text(unsigned long code);

}  // namespace tessel_installer::platform
