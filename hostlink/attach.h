// The attach sequence that fills HostEditor once at start-up.
#ifndef HOSTLINK_ATTACH_H_
#define HOSTLINK_ATTACH_H_

#include <functional>
#include <memory>
#include <string>

#include "hostlink/host_editor.h"
#include "hostlink/transport.h"

namespace hostlink {

inline constexpr const char* kNotInstalledText =
    "This Program Requires Norvane Editor to be Installed";
inline constexpr const char* kUnableToLinkText = "Unable to Link to Norvane";

// How an encoding reaches a host. Either call may return null or throw; the
// attach sequence absorbs both.
class Connector {
 public:
  virtual ~Connector() = default;
  // The host that already runs, if one answers.
  virtual std::unique_ptr<Transport> GetRunning() = 0;
  // Creates a host object, starting the host where it is installed.
  virtual std::unique_ptr<Transport> Create() = 0;
};

// Links `editor` to the running host, else to a created one. When neither
// works, shows kNotInstalledText and then kUnableToLinkText through
// `myMessage` (each call returns after the user's OK). Throws nothing.
// Returns editor.Linked().
bool AttachSequence(HostEditor& editor, Connector& connector,
                    const std::function<void(const std::string&)>& myMessage);

}  // namespace hostlink

#endif  // HOSTLINK_ATTACH_H_
