# Fails the build with a clear message when the host's bundle builder has not been built.
if(NOT EXISTS "${TOOL}")
    message(FATAL_ERROR "The bundle builder ${TOOL} is missing: build the host preset first "
        "(cmake --preset host && cmake --build build/host --target PlomBundle), or pass "
        "-DPLOM_HOST_BUILD=<its build tree>.")
endif()
