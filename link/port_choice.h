#pragma once
// Which port a command opens: the one named with --port, or the one generator attached.
#include <cstdint>
#include <string>

#include "link/serial_port.h"

extern const char kGeneratorId[];  // "USB 1209:7A3C", as the messages name the generator

// With given, *pChosen is just the port named. Else the one generator found; 69 when there is
// none, 64 when there are several (the message lists them), with *pMessage.
int32_t ChooseGeneratorPort(bool given, const std::string &port, FoundGenerator *pChosen,
                            std::string *pMessage);
