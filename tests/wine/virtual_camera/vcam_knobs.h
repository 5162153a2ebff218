// The virtual camera's settings, read from knobs.txt beside its DLL: one
// "key=value" per line (version, release_low, release_high, extended,
// answers). "version=image" gives the carried image's own version. The
// faults fail, unplug and drop name a transfer, counted from 1 over every
// transfer the process sends to its one camera (0 is off); an unplugged
// camera stays gone for the rest of the process.
#pragma once

#include <string>

#include "camera/sim/sim_camera.h"

namespace veltrane::vcam {

// Unknown keys and unreadable values are ignored: the defaults stay.
SimKnobs ReadKnobs(const std::string& path);
SimKnobs ParseKnobs(const std::string& text);

}  // namespace veltrane::vcam
