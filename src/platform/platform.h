// The services that the engine, the support utilities and the installer ask of the system.
// Everything that talks to the operating system sits behind these headers; win32/ holds the
// real implementation, posix/ the one for Linux builds (engine, klvpack, tests, fuzzers).
#pragma once

#include "platform/ansi_text.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"
