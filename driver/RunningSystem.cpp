#include "driver/RunningSystem.h"

TCheckSystem RunningSystem() {
  return {&SystemConfigFileSystem(), &SystemRegistrySource(), &SystemSocketSource(),
          &SystemProcessSource()};
}
