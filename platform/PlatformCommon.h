// Shared between the backends of the platform layer; not for use above it.
#pragma once

#include "platform/Platform.h"

namespace trax::platform {

// Shows the assertion report the way the backend does it (message box or stderr).
void ShowAssertion(const char* module, int line);

void CountHandleCreated();
void CountHandleClosed();

}  // namespace trax::platform
