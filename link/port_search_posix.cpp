// Finding the generators on Linux from sysfs: each tty whose device lies under a USB device
// 1209:7A3C. $VARNOLT_SYSFS (default /sys) and $VARNOLT_DEV (default /dev) let tests use a tree
// of their own.
#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace {

// The USB device folder is at most this many folders above the tty's device folder.
enum : int32_t { kMaxParentClimb = 4 };

std::string Root(const char *szVariable, const char *szDefault) {
  const char *szValue = getenv(szVariable);
  return szValue != nullptr && szValue[0] != '\0' ? szValue : szDefault;
}

// A small sysfs attribute without its trailing white space; false when it cannot be read.
bool ReadAttribute(const std::string &path, std::string *pValue) {
  FILE *file = fopen(path.c_str(), "r");
  if (file == nullptr) return false;
  char szValue[256] = {};
  size_t got = fread(szValue, 1, std::size(szValue) - 1, file);
  fclose(file);
  szValue[got] = '\0';
  while (got > 0 && isspace(static_cast<unsigned char>(szValue[got - 1]))) szValue[--got] = '\0';
  *pValue = szValue;
  return true;
}

bool ResolvePath(const std::string &path, std::string *pResolved) {
  char szResolved[PATH_MAX];
  if (realpath(path.c_str(), szResolved) == nullptr) return false;
  *pResolved = szResolved;
  return true;
}

std::vector<std::string> FolderEntries(const std::string &folder) {
  std::vector<std::string> names;
  DIR *directory = opendir(folder.c_str());
  if (directory == nullptr) return names;
  while (dirent *entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

// The USB device folder above a tty's device folder with the generator's ids, if there is one.
bool FindGeneratorFolder(const std::string &deviceFolder, std::string *pUsbFolder) {
  std::string folder = deviceFolder;
  for (int32_t climb = 0; climb <= kMaxParentClimb; climb++) {
    std::string vendor;
    std::string product;
    if (ReadAttribute(folder + "/idVendor", &vendor) &&
        ReadAttribute(folder + "/idProduct", &product)) {
      if (strcasecmp(vendor.c_str(), "1209") != 0 || strcasecmp(product.c_str(), "7a3c") != 0) {
        return false;  // the nearest USB device is another one
      }
      *pUsbFolder = folder;
      return true;
    }
    size_t slash = folder.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return false;
    folder.erase(slash);
  }
  return false;
}

// The link in <dev>/serial/by-id that resolves to the port, if any.
std::string FindByIdLink(const std::string &devRoot, const std::string &port) {
  std::string resolvedPort;
  if (!ResolvePath(port, &resolvedPort)) return "";
  std::string byIdFolder = devRoot + "/serial/by-id";
  for (const std::string &name : FolderEntries(byIdFolder)) {
    std::string resolved;
    if (ResolvePath(byIdFolder + "/" + name, &resolved) && resolved == resolvedPort) {
      return byIdFolder + "/" + name;
    }
  }
  return "";
}

}  // namespace

std::vector<FoundGenerator> FindGenerators() {
  const std::string sysRoot = Root("VARNOLT_SYSFS", "/sys");
  const std::string devRoot = Root("VARNOLT_DEV", "/dev");
  std::vector<FoundGenerator> generators;
  const std::string ttyClass = sysRoot + "/class/tty";
  for (const std::string &name : FolderEntries(ttyClass)) {
    std::string deviceFolder;
    std::string usbFolder;
    if (!ResolvePath(ttyClass + "/" + name + "/device", &deviceFolder)) continue;
    if (!FindGeneratorFolder(deviceFolder, &usbFolder)) continue;
    FoundGenerator found;
    found.port = devRoot + "/" + name;
    ReadAttribute(usbFolder + "/serial", &found.serial);
    found.byId = FindByIdLink(devRoot, found.port);
    generators.push_back(found);
  }
  return generators;
}
