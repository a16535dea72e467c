// The product version, a build-time setting (cmake/Settings.cmake).
#pragma once

#if !defined(PLOM_VERSION_MAJOR) || !defined(PLOM_VERSION_MINOR) \
    || !defined(PLOM_VERSION_BUILD) || !defined(PLOM_VERSION_REVISION)
# error "The build passes the four product version constants."
#endif
