# Build-time settings of the product. A release build passes its own values with -D.
set(PLOM_VERSION_MAJOR 1 CACHE STRING "Product version: major")
set(PLOM_VERSION_MINOR 0 CACHE STRING "Product version: minor")
set(PLOM_VERSION_BUILD 0 CACHE STRING "Product version: build")
set(PLOM_VERSION_REVISION 0 CACHE STRING "Product version: revision")
