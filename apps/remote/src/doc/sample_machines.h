#pragma once
// The fixed data set of sample mode: eight saved machines and four nearby devices, so every
// screen has realistic content without a network or stored data. Pure; any thread.

#include <string>
#include <vector>

#include "profiles/profile.h"

namespace remote {

// A nearby device the form offers (the application turns these into its device suggestions).
struct SampleDevice {
    std::string name;
    std::string endpoint;  // 64 lower-case hex digits
    bool online = false;
    friend bool operator==(const SampleDevice&, const SampleDevice&) = default;
};

// The eight machines in their fixed order, each with a fresh random id on every call.
[[nodiscard]] std::vector<ConnectionProfile> sample_profiles();
// The four devices; their endpoint ids are the same on every call and every run.
[[nodiscard]] std::vector<SampleDevice> sample_devices();

}  // namespace remote
