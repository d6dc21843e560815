#include "hostlink/attach.h"

namespace hostlink {
namespace {

template <typename Step>
std::unique_ptr<Transport> Absorbed(Step step) {
  try {
    return step();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

bool AttachSequence(HostEditor& editor, Connector& connector,
                    const std::function<void(const std::string&)>& myMessage) {
  std::unique_ptr<Transport> link = Absorbed([&] { return connector.GetRunning(); });
  if (!link) {
    link = Absorbed([&] { return connector.Create(); });
    if (!link) myMessage(kNotInstalledText);
  }
  if (link) editor.Link(std::move(link));
  if (!editor.Linked()) myMessage(kUnableToLinkText);
  return editor.Linked();
}

}  // namespace hostlink
