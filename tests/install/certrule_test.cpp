// When a run adds the timestamp CA: every combination of version and product type,
// including those no wine setting reports (servers of version 10 and later).
#include <gtest/gtest.h>

#include <kelp/system.h>

#include "PlomStubCertUtil.h"

namespace {

struct RuleCase
{
    uint32_t major, minor, build;
    uint8_t  productType;
    bool     forced;
    bool     needed;
};

TEST(TimestampCaRule, LegacyAndServerSystemsNeedIt)
{
    const RuleCase cases[] = {
        { 10, 0, 19045, RTWIN_PRODUCT_WORKSTATION,       false, false },
        { 10, 0, 22631, RTWIN_PRODUCT_WORKSTATION,       false, false },  // Windows 11
        { 10, 0, 20348, RTWIN_PRODUCT_SERVER,            false, true },
        { 10, 0, 17763, RTWIN_PRODUCT_DOMAIN_CONTROLLER, false, true },
        { 6, 3, 9600,   RTWIN_PRODUCT_WORKSTATION,       false, true },
        { 6, 1, 7601,   RTWIN_PRODUCT_WORKSTATION,       false, true },
        { 6, 1, 7601,   RTWIN_PRODUCT_SERVER,            false, true },
        { 11, 0, 0,     RTWIN_PRODUCT_WORKSTATION,       false, false },
        { 10, 0, 19045, RTWIN_PRODUCT_WORKSTATION,       true,  true },
        { 6, 1, 7601,   RTWIN_PRODUCT_WORKSTATION,       true,  true },
    };
    for (const RuleCase &c : cases)
        EXPECT_EQ(c.needed, TimestampCaNeeded(c.forced, RTSystemMakeWinVersion(c.major, c.minor, c.build),
                                              c.productType))
            << c.major << "." << c.minor << "." << c.build << " type " << (int)c.productType
            << (c.forced ? " forced" : "");
}

} // namespace
