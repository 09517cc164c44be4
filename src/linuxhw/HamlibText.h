#pragma once

#include <string>

namespace halvik {

// Hamlib's text for a status code (its calls return negative codes).
std::string HamlibErrorText(int status);

// Hamlib reports on standard error at its default level; the station has its own messages.
void QuietHamlib();

}  // namespace halvik
