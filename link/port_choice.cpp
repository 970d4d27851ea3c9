#include "link/port_choice.h"

#include <vector>

#include "link/exit_codes.h"

const char kGeneratorId[] = "USB 1209:7A3C";

int32_t ChooseGeneratorPort(bool given, const std::string &port, FoundGenerator *pChosen,
                            std::string *pMessage) {
  if (given) {
    *pChosen = FoundGenerator{port, "", ""};
    return kExitOk;
  }
  std::vector<FoundGenerator> generators = FindGenerators();
  if (generators.empty()) {
    *pMessage = std::string("no generator found (") + kGeneratorId + ")";
    return kExitNoGenerator;
  }
  if (generators.size() > 1) {
    *pMessage = "several generators found:";
    for (const FoundGenerator &found : generators) {
      *pMessage += " " + found.port;
      if (!found.serial.empty()) *pMessage += " (serial " + found.serial + ")";
    }
    *pMessage += "; choose one with --port";
    return kExitUsage;
  }
  *pChosen = generators[0];
  return kExitOk;
}
