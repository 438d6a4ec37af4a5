#include "platform/priority.h"

#include <cstdlib>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

int32_t SetPriorityClass(uint32_t dwPriorityClass) {
  int nNice;
  switch (dwPriorityClass) {
  case kIdlePriorityClass:
    nNice = 10;
    break;
  case kNormalPriorityClass:
    nNice = 0;
    break;
  case kHighPriorityClass:
    nNice = -5;
    break;
  case kRealtimePriorityClass:
    nNice = -10;
    break;
  default:
    return 0;
  }
  // Linux keeps the nice value per thread: set it on each one, so threads the
  // audio library started already follow the class too.
  int32_t bOk = setpriority(PRIO_PROCESS, 0, nNice) == 0 ? 1 : 0;
  if (DIR *pDir = opendir("/proc/self/task")) {
    while (dirent *pEntry = readdir(pDir)) {
      int nTid = std::atoi(pEntry->d_name);
      if (nTid > 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(nTid), nNice);
    }
    closedir(pDir);
  }
  return bOk;
}
