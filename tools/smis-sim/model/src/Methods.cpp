#include "ProviderImpl.h"

namespace sim {

// Copy services and masking methods are registered here as they are built; a
// method that is not registered answers CIM_ERR_METHOD_NOT_FOUND.
void registerBuiltinMethods(Provider::Impl& /*impl*/) {}

}  // namespace sim
