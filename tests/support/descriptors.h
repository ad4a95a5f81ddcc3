// How many file descriptors this process holds, for tests that check every
// call releases what it took.
#pragma once

#include <dirent.h>

namespace testsupport {

inline int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

}  // namespace testsupport
