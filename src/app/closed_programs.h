// /CLOSEAPPLICATIONS: the programs that hold files an installation run is about to replace,
// as the system's Restart Manager names them. Each is named in the log (program and process
// number) and asked to close, never forced: a program that asks to keep unsaved work keeps
// running, and the run then finds its file in use as it would without the switch (exit 5).
// What closed is started again when the run is over, unless /NOSTART.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"

namespace klv::app {

class ClosedPrograms {
  public:
    // Names every program that holds one of `files` (full paths, 8-bit ANSI) in the log and
    // asks each to close.
    explicit ClosedPrograms(const std::vector<std::string>& files);
    ClosedPrograms(const ClosedPrograms&) = delete;
    ClosedPrograms& operator=(const ClosedPrograms&) = delete;

    // Starts again what closed, or only says in the log that it is not (`noStart`).
    void Restart(bool noStart);

  private:
    std::unique_ptr<platform::ProgramSession> session_;
    std::vector<platform::HoldingProgram> closed_;
};

} // namespace klv::app
