#include "shell/guard/win32/jcl_app_instances.h"

namespace guard {

std::unique_ptr<InstanceRegistry> MakeProcessRegistry() { return std::make_unique<TJclAppInstances>(); }

void EndProcessNow(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace guard
