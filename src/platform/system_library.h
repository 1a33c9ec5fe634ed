// Functions of system DLLs that are not KnownDLLs (bcrypt.dll, ...), found in System32 only:
// a copy planted beside the program is never loaded. Windows build only.
#pragma once

namespace klv::platform {

// The address of `function` in `dll`, loaded from the system folder on first use; null when
// either is missing. The DLL stays loaded for the life of the process.
void* SystemLibraryFunction(const char* dll, const char* function);

} // namespace klv::platform
