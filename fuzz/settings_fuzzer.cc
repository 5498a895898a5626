// The platform settings file, as the configuration library reads it.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "platform/nv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nv::Settings settings = nv::parseSettings(std::string(reinterpret_cast<const char*>(data), size));
  (void)settings;
  return 0;
}
