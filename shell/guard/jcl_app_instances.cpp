#include "shell/guard/jcl_app_instances.h"

#include <cstdio>
#include <cstdlib>

namespace guard {

std::unique_ptr<InstanceRegistry> MakeProcessRegistry() { return std::make_unique<TJclAppInstances>(); }

void EndProcessNow(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

}  // namespace guard
