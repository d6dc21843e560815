// Reaching the host through COM: the running object of the host's class, or
// a new one (which starts a local server).
#ifndef HOSTLINK_COM_COM_CONNECTOR_H_
#define HOSTLINK_COM_COM_CONNECTOR_H_

#include <string>

#include "hostlink/attach.h"

namespace hostlink::com {

inline constexpr char kProgId[] = "norvane.norvanex";

// GetRunning: CLSIDFromProgID, GetActiveObject, QueryInterface(IDispatch).
// Create: CLSIDFromProgID, CoCreateInstance(CLSCTX_INPROC_SERVER |
// CLSCTX_LOCAL_SERVER, IID_IDispatch). A step that fails (an error status, or
// no object) throws HostError with the system text of its status. The calling thread must be in an
// apartment; the transports are ComTransports and stay on this thread.
class ComConnector : public Connector {
 public:
  explicit ComConnector(std::string progId = kProgId) : progId_(std::move(progId)) {}

  std::unique_ptr<Transport> GetRunning() override;
  std::unique_ptr<Transport> Create() override;

 private:
  std::string progId_;
};

}  // namespace hostlink::com

#endif  // HOSTLINK_COM_COM_CONNECTOR_H_
