# Writes the C++ source that carries the installer's certificates, from DER files:
#   cmake -DOUTPUT=<file.cpp> -DPUBLISHER1=<der> -DPUBLISHER2=<der> -DTIMESTAMP_CA=<der>
#         -P EmbedCertificates.cmake
# Each file must be one DER SEQUENCE whose encoded length is the file's size exactly, so a
# PEM file, a truncated file or one with trailing bytes fails the build rather than the
# installation.

function(read_der var path out_size)
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "certificate file '${path}' does not exist")
    endif()
    file(SIZE "${path}" size)
    file(READ "${path}" hex HEX)
    set(ok FALSE)
    if(size GREATER 4)
        string(SUBSTRING "${hex}" 0 2 tag)
        string(SUBSTRING "${hex}" 2 2 lenByte)
        if(tag STREQUAL "30")
            math(EXPR first "0x${lenByte}")
            if(first LESS 128)
                math(EXPR total "2 + ${first}")
            elseif(first GREATER 128 AND first LESS 133)
                math(EXPR count "${first} - 128")
                math(EXPR digits "${count} * 2")
                string(SUBSTRING "${hex}" 4 ${digits} lenHex)
                math(EXPR total "2 + ${count} + 0x${lenHex}")
            endif()
            if(DEFINED total AND total EQUAL size)
                set(ok TRUE)
            endif()
        endif()
    endif()
    if(NOT ok)
        message(FATAL_ERROR "'${path}' is not a single DER-encoded certificate")
    endif()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    set(${var} "${bytes}" PARENT_SCOPE)
    set(${out_size} ${size} PARENT_SCOPE)
endfunction()

read_der(pub1 "${PUBLISHER1}" pub1Size)
read_der(pub2 "${PUBLISHER2}" pub2Size)
read_der(tsca "${TIMESTAMP_CA}" tscaSize)

file(WRITE "${OUTPUT}.tmp" "// Generated from the build's certificate files; do not edit.
#include \"PlomStub.h\"

namespace
{
const uint8_t Publisher1[${pub1Size}] =
{
    ${pub1}
};
const uint8_t Publisher2[${pub2Size}] =
{
    ${pub2}
};
const uint8_t TimestampCa[${tscaSize}] =
{
    ${tsca}
};
} // namespace

const StubCertificate TimestampCaCertificate = { TimestampCa, sizeof(TimestampCa) };
const StubCertificate PublisherCertificates[2] =
{
    { Publisher1, sizeof(Publisher1) },
    { Publisher2, sizeof(Publisher2) },
};
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
