// Status texts and the mapping of VXI-11 error codes to VISA statuses.
#pragma once

#include "visa.h"

#include <cstdint>

namespace lanvisa {

/// Text for a status the library can return; nullptr for an unknown code.
const char* statusText(ViStatus status);

/// Where a VXI-11 error was reported: create_link maps some codes differently.
enum class Vxi11Context { Open, Io };

/// VISA status for a VXI-11 Device_ErrorCode.
ViStatus statusFromVxi11Error(int32_t error, Vxi11Context context);

}  // namespace lanvisa
