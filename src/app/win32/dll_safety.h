// Keeps DLLs planted beside the package (a downloads folder) from being loaded.
#pragma once

namespace klv::app::win32 {

// Restricts the DLL search of every later load to System32. The program's first act: the
// program imports only KnownDLLs, so nothing was searched for before it.
void RestrictDllSearch();

} // namespace klv::app::win32
