// The payload appended to the running executable, as the installer window uses it: the
// package's configuration files, the check of the whole payload before the installation is
// touched, and the installation of every item. The window reaches the archive engine only
// through this, so that its rules can be run against a scripted payload and the way the
// items reach the folder (today: tested, then extracted in place) can change behind it.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace klv::app {

class Payload {
  public:
    virtual ~Payload() = default;

    // When the payload holds an item matching "*stub.ini", writes the items matching
    // "*Stub.*" below `folder` (replacing files there) and answers true; otherwise writes
    // nothing and answers false. Archive failures raise zip::EZAException.
    virtual bool ExtractConfiguration(const std::string& folder) = 0;
    // The bytes of a configuration file in the folder given above; empty when unreadable.
    virtual std::string ReadConfiguration(const std::string& path) = 0;

    // Makes sure every item can be installed into `folder` before anything there changes:
    // true when each item passes all its checks and the archive's directory was read as
    // recorded (not rebuilt from local headers, as after a cut-off download). Writes nothing
    // into `folder`. Never raises for a damaged payload: that answers false.
    virtual bool Verify(const std::string& folder) = 0;
    // Writes every item below `folder` with its stored relative path, replacing existing
    // files without asking. Archive failures raise zip::EZAException.
    virtual void ExtractAll(const std::string& folder) = 0;
};

// Opens the payload of the executable at `executablePath` when asked; no file is touched
// at construction.
using PayloadFactory = std::function<std::unique_ptr<Payload>(const std::string& executablePath)>;

// The payload read with the archive engine (TZipArchive).
std::unique_ptr<Payload> NewZipPayload(const std::string& executablePath);

} // namespace klv::app
