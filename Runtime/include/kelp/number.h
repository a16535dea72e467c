// Text to numbers: integers with base detection and a length limit, and small parsers for
// IPv4 addresses and networks, MAC addresses, hexadecimal byte runs and UUIDs. Nothing
// here allocates, skips leading blanks (unless said) or depends on the locale.
//
// Status results: 0; WRN_NUMBER_OVERFLOW (value truncated to its low bits);
// WRN_NUMBER_NEGATIVE (minus sign on an unsigned conversion, two's complement returned);
// WRN_TRAILING_TEXT / WRN_TRAILING_BLANKS (prefix conversions: what follows the number);
// ERR_TRAILING_TEXT / ERR_TRAILING_BLANKS (whole conversions); ERR_NUMBER_NO_DIGITS.
// Warnings are positive: a caller that must reject them compares with 0.
#pragma once

#include "kelp/types.h"

// The base-and-limit argument: bits 0-7 the base (0 or 36 and more: detect "0x" hex,
// "0" octal, else decimal), bits 8-31 the greatest number of characters to look at
// (0: no limit).
constexpr uint32_t RTStrBaseAndLimit(uint32_t base, uint32_t maxChars)
{
    return (base & 0xFF) | (maxChars << 8);
}

// Prefix conversions: the number may be followed by anything; *end (may be null) receives
// the position after it. The value pointer may be null.
int RTStrToU64Prefix(const char *text, const char **end, uint32_t baseAndLimit, uint64_t *value);
int RTStrToI64Prefix(const char *text, const char **end, uint32_t baseAndLimit, int64_t *value);
int RTStrToU32Prefix(const char *text, const char **end, uint32_t baseAndLimit, uint32_t *value);
int RTStrToU8Prefix(const char *text, const char **end, uint32_t baseAndLimit, uint8_t *value);

// Whole conversions: the text must be the number.
int RTStrToU64Whole(const char *text, uint32_t baseAndLimit, uint64_t *value);
int RTStrToI64Whole(const char *text, uint32_t baseAndLimit, int64_t *value);
int RTStrToU32Whole(const char *text, uint32_t baseAndLimit, uint32_t *value);
int RTStrToU16Whole(const char *text, uint32_t baseAndLimit, uint16_t *value);
int RTStrToU8Whole(const char *text, uint32_t baseAndLimit, uint8_t *value);
int RTStrToI32Whole(const char *text, uint32_t baseAndLimit, int32_t *value);
int RTStrToI16Whole(const char *text, uint32_t baseAndLimit, int16_t *value);
int RTStrToI8Whole(const char *text, uint32_t baseAndLimit, int8_t *value);

// Base detection, no limit: the low 32 bits of the value, or 0 on failure.
int32_t RTStrToI64Lenient(const char *text);

// Addresses, bytes in the order the text gives them (network byte order for IPv4).
struct RTNETADDRIPV4
{
    uint8_t bytes[4];
};
struct RTMAC
{
    uint8_t bytes[6];
};
struct RTUUID
{
    uint8_t bytes[16];
};

// Dotted quad; returns 0, WRN_TRAILING_TEXT, WRN_TRAILING_BLANKS or ERR_BAD_ARGUMENT.
int RTNetScanIPv4(const char *text, RTNETADDRIPV4 *address, const char **end);
// Dotted quad with optional surrounding whitespace and nothing else.
int RTNetParseIPv4(const char *text, RTNETADDRIPV4 *address);
// "a.b.c.d/len" (fewer parts allowed for short prefixes); host-order address and mask.
int RTNetParseIPv4Cidr(const char *text, uint32_t *address, uint32_t *mask);
// "00:1a:2b:3c:4d:5e" (empty inner groups are 0) or "001A2B3C4D5E".
int RTNetParseMac(const char *text, RTMAC *mac);

// RTStrHexToBytes flags.
enum : uint32_t
{
    RTSTRHEX_COLON_GROUPS = 1, // groups of one or two digits separated by ':'
};
// Pairs of hexadecimal digits into exactly `count` bytes. A positive status
// (WRN_TRAILING_TEXT) when other characters follow a complete run.
int RTStrHexToBytes(const char *text, void *out, size_t count, uint32_t flags);

// "00112233-4455-6677-8899-aabbccddeeff", optionally in braces; the first three groups are
// stored in host order.
int RTUuidParse(RTUUID *uuid, const char *text);
