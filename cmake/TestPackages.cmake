# Names of the test packages that tests/packages builds (wixl, msibuild, gcab, openssl),
# defined here at the top so that every test directory can use them whatever the order
# in which the directories are configured. Use them through plom_use_test_packages().
#
# Each MSI has its own product and upgrade code, so that installing one never looks like a
# repair or upgrade of another. Its files are readme.txt and docs/notes.txt under
# "[ProgramFilesFolder]<DIR>" (the INSTALLDIR directory, a public property).
#   key        what it does when installed
#   FILES      installs the two files (exit 0)
#   INSTALLDIR the same under its own codes, for tests that move it with INSTALLDIR
#   SECOND     the same under its own codes, for two-package bundles
#   REBOOT     installs, then schedules a reboot (3010)
#   FAIL       a type-19 custom action ends the installation (1603)
set(PLOM_TEST_PACKAGE_DIR ${CMAKE_BINARY_DIR}/tests/packages/out)
set(PLOM_TEST_PACKAGES_INCLUDE_DIR ${CMAKE_BINARY_DIR}/tests/packages/include)

set(PLOM_TEST_MSI_KEYS FILES INSTALLDIR SECOND REBOOT FAIL)
#                       product code                           upgrade code                           component 1                            component 2
set(_pkg_FILES      1C0D83F2-ECDD-475C-8285-E16E021EEB0A F4EBD40D-F763-4417-AEDA-8B984BF8ADEE E62EC51E-6B50-4C20-A2ED-2C0DA2A25305 E330266B-FAC2-42E8-A63D-772D9A2F20FE)
set(_pkg_INSTALLDIR 47EA1A51-92B5-4E50-A933-9088A2E06E04 00341DB3-FF60-497E-8E6E-C73DAE9AA4A4 DF21FFB2-01F3-4541-8FFB-030D3D62CCC2 EDF4C789-AC24-49CB-BDA7-F3756763FE3E)
set(_pkg_SECOND     F6AC5760-BFE8-42B1-97B8-4B41FD790C34 8F2BCAE4-7C3E-435B-AA16-D521B02C3358 8B83B1CE-7212-40AB-8DD2-34BAFEED26C0 46FD66DE-357E-4D46-BE60-AE18D4BA0017)
set(_pkg_REBOOT     8ED15B05-4B60-4AC5-A110-3BC260934DBF AFBE9EF4-0381-4BDC-BCA6-5309F5E6C0AD 04FDC8F7-A775-4530-9F89-2BFAE07891CC E7A60875-2A7F-4BA1-9F4A-6C7E6CD1F118)
set(_pkg_FAIL       76E257F5-E06C-4A37-A6A5-3169814F2D1C 531CB655-820F-47FD-9971-50D38D13D1C6 EACAD721-9361-4BBD-96D3-DA2F998C8D70 9A0D4E83-FCD2-4BFA-8D62-B69E4D2682BD)
foreach(_key ${PLOM_TEST_MSI_KEYS})
    string(TOLOWER ${_key} _lower)
    list(GET _pkg_${_key} 0 _product)
    list(GET _pkg_${_key} 1 _upgrade)
    list(GET _pkg_${_key} 2 _c1)
    list(GET _pkg_${_key} 3 _c2)
    set(PLOM_TEST_MSI_${_key} ${PLOM_TEST_PACKAGE_DIR}/plomtest-${_lower}.msi)
    set(PLOM_TEST_MSI_${_key}_PRODUCT_CODE "{${_product}}")
    set(PLOM_TEST_MSI_${_key}_UPGRADE_CODE "{${_upgrade}}")
    set(PLOM_TEST_MSI_${_key}_COMPONENTS "${_c1};${_c2}")
    set(PLOM_TEST_MSI_${_key}_DIR "PlomStub Test ${_lower}")
endforeach()

# Not an installer database at all: random bytes under an .msi name.
set(PLOM_TEST_MSI_CORRUPT ${PLOM_TEST_PACKAGE_DIR}/plomtest-corrupt.msi)
# A cabinet with the same two files (no installer needed to extract it).
set(PLOM_TEST_CAB ${PLOM_TEST_PACKAGE_DIR}/plomtest.cab)
# The size of the product's own package, as a .cab (extracted and verified, never handed to
# the installer), for the large-package tests and benchmarks; built only on request
# (target plom_large_payload).
set(PLOM_TEST_LARGE_PAYLOAD ${PLOM_TEST_PACKAGE_DIR}/plomtest-large.cab)
set(PLOM_TEST_LARGE_PAYLOAD_SIZE 109760512)

# Gives a test program the generated header plom_test_packages.h (paths as the test sees
# them, product codes, certificate paths and thumbprints) and builds the packages first.
function(plom_use_test_packages target)
    target_include_directories(${target} PRIVATE ${PLOM_TEST_PACKAGES_INCLUDE_DIR})
    add_dependencies(${target} plom_test_packages)
endfunction()
