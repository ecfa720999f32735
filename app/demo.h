// The demonstration: simulate with a fixed seed, process the file like any
// other, and measure what was recovered against the truth.
#ifndef KWSIGNAL_APP_DEMO_H
#define KWSIGNAL_APP_DEMO_H

#include <string>

namespace kwapp {

/// Runs the demonstration into outDir and prints the recovery. Returns the
/// exit status.
int runDemo(const std::string& outDir);

}  // namespace kwapp

#endif
