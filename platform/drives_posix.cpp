#include "platform/drives_posix.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "platform/drives.h"

namespace platform {
namespace {

bool is_cdrom_name(const char* name) {
  if (std::strncmp(name, "sr", 2) != 0 || name[2] == '\0') return false;
  for (const char* c = name + 2; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

}  // namespace

int count_cdrom_drives_in(const std::string& device_folder) {
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(device_folder.c_str()), closedir);
  if (folder == nullptr) return 0;
  int count = 0;
  while (const dirent* entry = readdir(folder.get())) {
    if (is_cdrom_name(entry->d_name)) ++count;
  }
  return count;
}

int count_floppy_drives_in(const std::string& device_folder) {
  int count = 0;
  for (const char* name : {"/fd0", "/fd1"}) {
    struct stat info {};
    if (stat((device_folder + name).c_str(), &info) == 0) ++count;
  }
  return count;
}

int count_cdrom_drives() { return count_cdrom_drives_in("/dev"); }
int count_floppy_drives() { return count_floppy_drives_in("/dev"); }

}  // namespace platform
