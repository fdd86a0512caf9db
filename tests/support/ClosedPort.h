// A loopback port with nothing listening on it: one the system handed out
// a moment ago and that has been given back, for tests of refused
// connections.
#pragma once

#include <string>

namespace glowsnap::test {

int closedLoopbackPort();
// "http://127.0.0.1:<closedLoopbackPort()>/"
std::string closedLoopbackURL();

}  // namespace glowsnap::test
