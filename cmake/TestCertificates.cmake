# Test certificates made once per build tree with openssl: two code-signing publisher
# certificates (with their keys, so tests can sign bundles) and a timestamp certification
# authority. They stand in for the product's own certificates in every non-release build.
set(PLOM_TEST_CERT_DIR ${CMAKE_BINARY_DIR}/testcerts)

find_program(PLOM_OPENSSL openssl)

function(plom_make_test_certificate name subject extensions)
    set(der ${PLOM_TEST_CERT_DIR}/${name}.der)
    if(EXISTS ${der} OR NOT PLOM_OPENSSL)
        return()
    endif()
    set(args)
    foreach(ext ${extensions})
        list(APPEND args -addext ${ext})
    endforeach()
    execute_process(
        COMMAND ${PLOM_OPENSSL} req -x509 -newkey rsa:2048 -nodes -sha256 -days 7300
                -subj ${subject} ${args}
                -keyout ${PLOM_TEST_CERT_DIR}/${name}.key -out ${PLOM_TEST_CERT_DIR}/${name}.pem
        RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "openssl could not make the test certificate ${name}: ${err}")
    endif()
    execute_process(
        COMMAND ${PLOM_OPENSSL} x509 -in ${PLOM_TEST_CERT_DIR}/${name}.pem -outform DER -out ${der}
        RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "openssl could not convert the test certificate ${name}")
    endif()
endfunction()

file(MAKE_DIRECTORY ${PLOM_TEST_CERT_DIR})
set(_signer "keyUsage=critical,digitalSignature;extendedKeyUsage=codeSigning;basicConstraints=critical,CA:FALSE")
plom_make_test_certificate(publisher1 "/CN=Frostgrain Test Publisher One/O=Frostgrain Test" "${_signer}")
plom_make_test_certificate(publisher2 "/CN=Frostgrain Test Publisher Two/O=Frostgrain Test" "${_signer}")
plom_make_test_certificate(timestamp-ca "/CN=Frostgrain Test Timestamp CA/O=Frostgrain Test"
    "keyUsage=critical,keyCertSign,cRLSign;basicConstraints=critical,CA:TRUE")
if(NOT PLOM_OPENSSL)
    message(WARNING "openssl not found: no test certificates")
endif()

# SHA-1 thumbprint of a DER certificate in upper-case hex, as the certificate stores name it.
function(plom_cert_thumbprint out der)
    set(${out} "" PARENT_SCOPE)
    if(NOT PLOM_OPENSSL OR NOT EXISTS ${der})
        return()
    endif()
    execute_process(COMMAND ${PLOM_OPENSSL} x509 -inform DER -in ${der} -noout -fingerprint -sha1
        OUTPUT_VARIABLE fp RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0)
        string(REGEX REPLACE ".*=" "" fp "${fp}")
        string(REPLACE ":" "" fp "${fp}")
        string(STRIP "${fp}" fp)
        string(TOUPPER "${fp}" fp)
        set(${out} ${fp} PARENT_SCOPE)
    endif()
endfunction()
