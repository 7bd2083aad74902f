// The driver's one device. libindidriver brings main() and the IS* entry
// points, which hand every client request to each device object.

#include <memory>

#include "indi/tavro_telescope.h"

namespace {

const std::unique_ptr<TavroTelescope> g_mount(new TavroTelescope());

}  // namespace
