#include "package/inflater.h"

#include "package/zlib_inflater.h"
#ifdef INSTALLER_INFLATER_ISAL
#include "package/isal_inflater.h"
#endif

std::unique_ptr<Inflater> makeInflater() {
#ifdef INSTALLER_INFLATER_ISAL
  return std::unique_ptr<Inflater>(new IsalInflater);
#else
  return std::unique_ptr<Inflater>(new ZlibInflater);
#endif
}

const char* inflaterName() {
#ifdef INSTALLER_INFLATER_ISAL
  return "isal";
#else
  return "zlib";
#endif
}
