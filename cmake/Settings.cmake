# Build-time settings of the product. A release build passes its own values with -D.
set(PLOM_VERSION_MAJOR 1 CACHE STRING "Product version: major")
set(PLOM_VERSION_MINOR 0 CACHE STRING "Product version: minor")
set(PLOM_VERSION_BUILD 0 CACHE STRING "Product version: build")
set(PLOM_VERSION_REVISION 0 CACHE STRING "Product version: revision")

# The certificates the installer adds to the machine's stores, as DER files: the two
# publisher certificates and the timestamp certification authority. The defaults are test
# certificates made in the build tree; a release build passes the product's own files.
include(${CMAKE_CURRENT_LIST_DIR}/TestCertificates.cmake)
set(PLOM_CERT_PUBLISHER1 ${PLOM_TEST_CERT_DIR}/publisher1.der CACHE FILEPATH "First publisher certificate (DER)")
set(PLOM_CERT_PUBLISHER2 ${PLOM_TEST_CERT_DIR}/publisher2.der CACHE FILEPATH "Second publisher certificate (DER)")
set(PLOM_CERT_TIMESTAMP_CA ${PLOM_TEST_CERT_DIR}/timestamp-ca.der CACHE FILEPATH "Timestamp certification authority (DER)")
foreach(_cert PUBLISHER1 PUBLISHER2 TIMESTAMP_CA)
    if(NOT EXISTS "${PLOM_CERT_${_cert}}")
        message(WARNING "PLOM_CERT_${_cert}: ${PLOM_CERT_${_cert}} does not exist")
    endif()
    # Thumbprints for tests that look the certificates up in the stores.
    plom_cert_thumbprint(PLOM_CERT_${_cert}_SHA1 "${PLOM_CERT_${_cert}}")
endforeach()
# Key and PEM certificate of the first test publisher, for signing test bundles.
set(PLOM_TEST_SIGNING_CERT ${PLOM_TEST_CERT_DIR}/publisher1.pem)
set(PLOM_TEST_SIGNING_KEY ${PLOM_TEST_CERT_DIR}/publisher1.key)

# Where the build host's tools (the bundle builder) are built; the Windows builds use them.
set(PLOM_HOST_BUILD ${CMAKE_SOURCE_DIR}/build/host CACHE PATH "Build tree of the host preset")
set(PLOM_BUNDLE_TOOL ${PLOM_HOST_BUILD}/Tools/PlomBundle/PlomBundle CACHE FILEPATH "The bundle builder")
include(${CMAKE_CURRENT_LIST_DIR}/Bundle.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/TestPackages.cmake)
