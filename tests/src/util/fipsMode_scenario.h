// Shared by the FIPS tests: the product configuration of a scenario, and what a body reports.
#ifndef OV_TESTS_CONFIG_FIPS_SCENARIO_H
#define OV_TESTS_CONFIG_FIPS_SCENARIO_H

#include <optional>
#include <string>

#include "harness/scenario.h"

namespace ovtest {

constexpr const char* kProductConf = "/opt/Orvan/etc/ov.conf";

// A scenario whose product configuration is `conf` (none when nullopt). The file is at the
// current release unless `current` is false, so that loading it upgrades nothing.
inline Scenario fipsScenario(std::optional<std::string> conf, bool current = true) {
    Scenario s;
    if (conf)
        s.files[kProductConf] = (current ? std::string("[meta-info]\nversion = 1552\n") : std::string()) + *conf;
    // Start-up's own warnings (no common directory) are not what these tests look at.
    s.env["OV_SVC_ROUTE_WARNING"] = "DISCARD";
    s.env["OV_SVC_ROUTE_ERROR"] = "DISCARD";
    s.env["OV_SVC_ROUTE_FATAL"] = "DISCARD";
    return s;
}

}  // namespace ovtest

#endif  // OV_TESTS_CONFIG_FIPS_SCENARIO_H
