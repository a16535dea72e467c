# Compile and link rules for the Windows builds (i686 and x86_64 from the same sources).

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(PLOM_ARCH i686)
    set(PLOM_ENTRY_SYMBOL _Entry@0)
else()
    set(PLOM_ARCH x86_64)
    set(PLOM_ENTRY_SYMBOL Entry)
endif()

# The runtime and the product are compiled the way they are linked: no C or C++ run-time
# library, no exceptions, no RTTI, no unwind tables. No -fdata-sections: for PE targets
# it puts zero-initialised variables into .data$name sections that take room in the file
# (the 64 KiB verification buffer alone), where plain .bss costs nothing.
set(PLOM_FREESTANDING_FLAGS
    -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -fno-threadsafe-statics -fno-stack-protector
    -ffunction-sections -Os
    -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)

function(plom_freestanding target)
    target_compile_options(${target} PRIVATE ${PLOM_FREESTANDING_FLAGS})
endfunction()

set(PLOM_CHECK_IMPORTS ${CMAKE_SOURCE_DIR}/cmake/check-imports.sh)

# A program built like the product: own entry point, no run-time library, imports only
# kernel32 and ntdll (plus the DLLs named in ALLOW_DLLS, and those in DELAY_DLLS as delay
# imports only), checked after every link.
#   plom_add_freestanding_exe(name [GUI] [DLL] SOURCES ... [LIBS ...] [ALLOW_DLLS ...]
#                             [DELAY_DLLS ...] [LINK_OPTIONS ...])
function(plom_add_freestanding_exe name)
    cmake_parse_arguments(ARG "GUI;DLL" "" "SOURCES;LIBS;ALLOW_DLLS;DELAY_DLLS;LINK_OPTIONS" ${ARGN})
    if(ARG_DLL)
        add_library(${name} SHARED ${ARG_SOURCES})
        set_target_properties(${name} PROPERTIES PREFIX "")
    else()
        add_executable(${name} ${ARG_SOURCES})
        target_link_libraries(${name} PRIVATE kelp_entry)
    endif()
    plom_freestanding(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} kelp_win kelp_common kelp_memprim)
    if(ARG_DLL)
        target_link_options(${name} PRIVATE -nostdlib -nostartfiles -Wl,--gc-sections -s)
    else()
        target_link_options(${name} PRIVATE -nostdlib -nostartfiles -Wl,-e,${PLOM_ENTRY_SYMBOL}
            -Wl,--gc-sections -s)
    endif()
    if(ARG_GUI)
        target_link_options(${name} PRIVATE -mwindows)
    else()
        target_link_options(${name} PRIVATE -mconsole)
    endif()
    target_link_options(${name} PRIVATE ${ARG_LINK_OPTIONS})
    set(delayed)
    foreach(dll ${ARG_DELAY_DLLS})
        list(APPEND delayed delay:${dll})
    endforeach()
    # libgcc supplies the stack probes and, on i686, 64-bit division.
    target_link_libraries(${name} PRIVATE -lkernel32 -lntdll -lgcc)
    add_custom_command(TARGET ${name} POST_BUILD
        COMMAND ${PLOM_CHECK_IMPORTS} ${CMAKE_OBJDUMP} $<TARGET_FILE:${name}>
                KERNEL32.dll ntdll.dll ${ARG_ALLOW_DLLS} ${delayed}
        VERBATIM)
endfunction()
