# Building installer bundles with the host's bundle builder during a Windows build.
#
#   plom_add_bundle(<target> STUB <exe file or target> OUTPUT <file>
#                   ARGS <bundle builder arguments: --package FILE --arch ARCH ...>
#                   [DEPENDS <files or targets>])
# makes <target> (part of ALL) that writes OUTPUT from STUB whenever an input changes.

function(plom_add_bundle target)
    cmake_parse_arguments(ARG "" "STUB;OUTPUT" "ARGS;DEPENDS" ${ARGN})
    if(TARGET ${ARG_STUB})
        set(stub $<TARGET_FILE:${ARG_STUB}>)
        set(stubdep ${ARG_STUB})
    else()
        set(stub ${ARG_STUB})
        set(stubdep ${ARG_STUB})
    endif()
    # Files named after --package are inputs too.
    set(inputs)
    set(next_is_package FALSE)
    foreach(a ${ARG_ARGS})
        if(next_is_package)
            list(APPEND inputs ${a})
        endif()
        if(a STREQUAL "--package")
            set(next_is_package TRUE)
        else()
            set(next_is_package FALSE)
        endif()
    endforeach()
    # A changed tool remakes the bundles (when the tool is missing at configure time, the
    # check below explains at build time what to do instead).
    set(tooldep)
    if(EXISTS ${PLOM_BUNDLE_TOOL})
        set(tooldep ${PLOM_BUNDLE_TOOL})
    endif()
    add_custom_command(OUTPUT ${ARG_OUTPUT}
        COMMAND ${CMAKE_COMMAND} -DTOOL=${PLOM_BUNDLE_TOOL} -P ${PLOM_BUNDLE_CHECK_SCRIPT}
        COMMAND ${PLOM_BUNDLE_TOOL} --stub ${stub} --output ${ARG_OUTPUT} ${ARG_ARGS}
        DEPENDS ${stubdep} ${inputs} ${ARG_DEPENDS} ${tooldep}
        COMMENT "Bundling ${ARG_OUTPUT}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${ARG_OUTPUT})
endfunction()

set(PLOM_BUNDLE_CHECK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/check-bundle-tool.cmake)

# A path as a Windows program sees it: on a Unix build host the tests run under wine, which
# maps the Unix root to drive Z:.
function(plom_windows_path out path)
    if(CMAKE_HOST_UNIX)
        string(REPLACE "/" "\\" path "Z:${path}")
    endif()
    set(${out} "${path}" PARENT_SCOPE)
endfunction()

# A compile definition NAME=L"<Windows form of path>" for test programs.
function(plom_path_definition target name path)
    plom_windows_path(win "${path}")
    string(REPLACE "\\" "\\\\" win "${win}")
    target_compile_definitions(${target} PRIVATE "${name}=L\"${win}\"")
endfunction()

# The bundle builder as a Windows program (built by tests/bundle), for test programs that
# make bundles while they run: plom_use_bundle_tool(<target>) defines PLOM_BUNDLE_EXE
# (its path as the test sees it) and builds it first.
set(PLOM_BUNDLE_TOOL_EXE ${CMAKE_BINARY_DIR}/tools/PlomBundle.exe)
function(plom_use_bundle_tool target)
    plom_path_definition(${target} PLOM_BUNDLE_EXE ${PLOM_BUNDLE_TOOL_EXE})
    add_dependencies(${target} plom_bundle_tool_exe)
endfunction()
