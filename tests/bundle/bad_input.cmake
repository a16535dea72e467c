# Runs the bundle builder with bad inputs: each must fail with its message and leave the
# output as it was (absent, or an older file untouched), with no temporary file behind.
# Two good runs at the size limits show that the limits are where the messages say.
#   cmake -DTOOL=... -DSTUB_DIR=... -DPAYLOAD_DIR=... -DBUNDLE_DIR=... -DWORK_DIR=... -P bad_input.cmake

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(stub ${STUB_DIR}/stub64.exe)
set(pkg ${PAYLOAD_DIR}/odd.msi)
set(out ${WORK_DIR}/out.exe)
file(WRITE ${WORK_DIR}/not-a-pe.exe "MZ but nothing more")
file(WRITE ${WORK_DIR}/text.exe "plain text, not an executable\n")
string(REPEAT "n" 219 name219)
string(REPEAT "R" 27 res27)
string(ASCII 255 badbyte)
set(failures 0)

# name | expected text on stderr | arguments, separated by | as well
set(cases
    "missing package|cannot open '${WORK_DIR}/nope.msi'|--stub|${stub}|--package|${WORK_DIR}/nope.msi|--arch|any"
    "unknown architecture|unknown architecture 'arm64'|--stub|${stub}|--package|${pkg}|--arch|arm64"
    "architecture number too big|unknown architecture '4294967296'|--stub|${stub}|--package|${pkg}|--arch|4294967296"
    "no architecture|no architecture given|--stub|${stub}|--package|${pkg}"
    "file name of 224 bytes|is 224 bytes long (at most 223)|--stub|${stub}|--package|${pkg}|--arch|any|--name|${name219}x.msi"
    "file name with a directory|not allowed in Windows file names|--stub|${stub}|--package|${pkg}|--arch|any|--name|..\\evil.msi"
    "file name with a slash|not allowed in Windows file names|--stub|${stub}|--package|${pkg}|--arch|any|--name|sub/evil.msi"
    "file name not UTF-8|is not valid UTF-8|--stub|${stub}|--package|${pkg}|--arch|any|--name|${badbyte}.msi"
    "resource name of 28|is 28 characters long (at most 27)|--stub|${stub}|--package|${pkg}|--arch|any|--resource|${res27}X"
    "resource name reserved|reserved for the manifest and headers|--stub|${stub}|--package|${pkg}|--arch|any|--resource|hdr_01"
    "resource name twice|is used by package #0 too|--stub|${stub}|--package|${pkg}|--arch|any|--resource|same|--package|${pkg}|--arch|any|--resource|SAME"
    "resource name of the stub|the stub already has a resource named 'keepme'|--stub|${stub}|--package|${pkg}|--arch|any|--resource|keepme"
    "stub missing|cannot open '${WORK_DIR}/nostub.exe'|--stub|${WORK_DIR}/nostub.exe|--package|${pkg}|--arch|any"
    "stub not a PE|not a PE executable|--stub|${WORK_DIR}/text.exe|--package|${pkg}|--arch|any"
    "stub truncated|not a PE executable|--stub|${WORK_DIR}/not-a-pe.exe|--package|${pkg}|--arch|any"
    "stub holds packages|already holds packages|--stub|${BUNDLE_DIR}/stub64-three.exe|--package|${pkg}|--arch|any"
    "stub holds no packages but a manifest|already holds packages|--stub|${BUNDLE_DIR}/stub64-none.exe"
    "stub signed|is signed|--stub|${BUNDLE_DIR}/stub64reloc-three-signed.exe|--package|${pkg}|--arch|any"
    "package a directory|is a directory|--stub|${stub}|--package|${WORK_DIR}|--arch|any"
    "unknown option|unknown argument '--bogus'|--stub|${stub}|--bogus"
    "option before any package|must follow a --package|--stub|${stub}|--arch|any|--package|${pkg}"
)

foreach(case IN LISTS cases)
    string(REPLACE "|" ";" parts "${case}")
    list(GET parts 0 name)
    list(GET parts 1 message)
    list(SUBLIST parts 2 -1 args)
    foreach(existing FALSE TRUE)
        file(REMOVE ${out} ${out}.partial)
        if(existing)
            file(WRITE ${out} "older output")
        endif()
        execute_process(COMMAND ${TOOL} ${args} --output ${out}
            RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
        set(problems)
        if(rc EQUAL 0)
            list(APPEND problems "exit code 0")
        endif()
        string(FIND "${stderr}" "${message}" at)
        if(at EQUAL -1)
            list(APPEND problems "stderr lacks '${message}'")
        endif()
        if(NOT stderr MATCHES "^PlomBundle: error: ")
            list(APPEND problems "stderr does not start with 'PlomBundle: error: '")
        endif()
        if(existing)
            file(READ ${out} now)
            if(NOT now STREQUAL "older output")
                list(APPEND problems "the older output was changed")
            endif()
        elseif(EXISTS ${out})
            list(APPEND problems "an output was written")
        endif()
        if(EXISTS ${out}.partial)
            list(APPEND problems "a temporary file was left behind")
        endif()
        if(problems)
            math(EXPR failures "${failures} + 1")
            message("FAIL ${name} (older output present: ${existing}): ${problems}\n  stderr: ${stderr}")
        endif()
    endforeach()
endforeach()

# The limits themselves are accepted: a 223-byte file name and a 27-character resource name.
file(REMOVE ${out})
execute_process(COMMAND ${TOOL} --stub ${stub} --output ${out} --package ${pkg} --arch any
        --name ${name219}.msi --resource ${res27}
    RESULT_VARIABLE rc ERROR_VARIABLE stderr OUTPUT_QUIET)
if(NOT rc EQUAL 0 OR NOT EXISTS ${out})
    math(EXPR failures "${failures} + 1")
    message("FAIL names at their limits were refused: ${stderr}")
endif()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} bad-input check(s) failed")
endif()
message("all bad-input checks passed")
