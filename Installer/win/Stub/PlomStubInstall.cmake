# What a full run needs beyond extraction: the certificates carried as data, and the common
# controls as the program's one delay-loaded import. Included by this directory's
# CMakeLists.txt; defines PLOM_STUB_INSTALL_SOURCES, plomstub_delay, which whatever links
# them links too, and plomstub_certs, the certificates (a program may bring others).

set(PLOM_STUB_CERT_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/PlomStubCertData.cpp)
add_custom_command(OUTPUT ${PLOM_STUB_CERT_SOURCE}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${PLOM_STUB_CERT_SOURCE}
            -DPUBLISHER1=${PLOM_CERT_PUBLISHER1} -DPUBLISHER2=${PLOM_CERT_PUBLISHER2}
            -DTIMESTAMP_CA=${PLOM_CERT_TIMESTAMP_CA}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/EmbedCertificates.cmake
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/EmbedCertificates.cmake
            ${PLOM_CERT_PUBLISHER1} ${PLOM_CERT_PUBLISHER2} ${PLOM_CERT_TIMESTAMP_CA}
    COMMENT "Embedding the installer's certificates"
    VERBATIM)

set(PLOM_STUB_INSTALL_SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/PlomStubMsi.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PlomStubCertUtil.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PlomStubCustom.cpp)

add_library(plomstub_certs STATIC ${PLOM_STUB_CERT_SOURCE})
target_include_directories(plomstub_certs PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(plomstub_certs PUBLIC kelp_common)
plom_freestanding(plomstub_certs)

# The delay-import library for comctl32: binutils' dlltool writes the thunks and the
# descriptor; the helper they call is our own (PlomStubDelayLoad.cpp). On i686 the import
# is stdcall-decorated in the program and undecorated in the DLL (-k).
if(PLOM_ARCH STREQUAL "i686")
    set(_triplet i686-w64-mingw32)
    set(_export "InitCommonControlsEx@4")
    set(_thunk "_InitCommonControlsEx@4")
    set(_kill_at -k)
else()
    set(_triplet x86_64-w64-mingw32)
    set(_export "InitCommonControlsEx")
    set(_thunk "InitCommonControlsEx")
    set(_kill_at)
endif()
if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL ${_triplet}-dlltool REQUIRED)
endif()
set(_def ${CMAKE_CURRENT_BINARY_DIR}/comctl32-delay.def)
file(WRITE ${_def}.in "LIBRARY COMCTL32.dll\nEXPORTS\n${_export}\n")
configure_file(${_def}.in ${_def} COPYONLY)
set(PLOM_COMCTL32_DELAY_LIB ${CMAKE_CURRENT_BINARY_DIR}/libcomctl32-delay.a)
add_custom_command(OUTPUT ${PLOM_COMCTL32_DELAY_LIB}
    COMMAND ${CMAKE_DLLTOOL} -d ${_def} ${_kill_at} --output-delaylib ${PLOM_COMCTL32_DELAY_LIB}
    DEPENDS ${_def}
    COMMENT "Making the delay-import library of comctl32"
    VERBATIM)
add_custom_target(plomstub_comctl32_delay DEPENDS ${PLOM_COMCTL32_DELAY_LIB})

# The thunks' helper comes after the thunks on the link line, so that it is found.
add_library(plomstub_delay_helper STATIC ${CMAKE_CURRENT_SOURCE_DIR}/PlomStubDelayLoad.cpp)
target_link_libraries(plomstub_delay_helper PUBLIC kelp_win kelp_common)
plom_freestanding(plomstub_delay_helper)
add_library(plomstub_delay INTERFACE)
add_dependencies(plomstub_delay plomstub_comctl32_delay)
target_link_libraries(plomstub_delay INTERFACE ${PLOM_COMCTL32_DELAY_LIB} plomstub_delay_helper)
# The program calls through the import slot, never the thunk itself, and the slot's
# reference to the thunk does not keep it from the linker's section collection on i686:
# there the slot would be linked as 0. Naming the thunk as a root keeps it.
target_link_options(plomstub_delay INTERFACE "LINKER:-u,${_thunk}")
