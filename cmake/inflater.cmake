# The engine that inflates the content stream of a package:
#   -DINSTALLER_INFLATER=isal  ISA-L's igzip (libisal, isa-l/igzip_lib.h)
#   -DINSTALLER_INFLATER=zlib  zlib, on every CPU
# The default is isal where the build finds ISA-L and can link it the way
# it links everything else (a static build needs libisal.a, which Debian
# does not ship; a cross build looks in its sysroot only), zlib otherwise.
# Where ISA-L is found both engines are compiled, so that the tests and the
# fuzz targets compare them; INSTALLER_INFLATER only says which one the
# programs use.
include(CheckCXXSourceCompiles)

find_path(ISAL_INCLUDE_DIR isa-l/igzip_lib.h)
if(INSTALLER_STATIC)
  find_library(ISAL_LIBRARY NAMES libisal.a)
else()
  find_library(ISAL_LIBRARY NAMES isal)
endif()

set(ISAL_FOUND FALSE)
if(ISAL_INCLUDE_DIR AND ISAL_LIBRARY)
  set(CMAKE_REQUIRED_INCLUDES ${ISAL_INCLUDE_DIR})
  set(CMAKE_REQUIRED_LIBRARIES ${ISAL_LIBRARY})
  if(INSTALLER_STATIC)
    set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  endif()
  check_cxx_source_compiles([[
    #include <isa-l/igzip_lib.h>
    int main() { inflate_state state; isal_inflate_init(&state); return isal_inflate(&state); }
  ]] ISAL_LINKS)
  unset(CMAKE_REQUIRED_INCLUDES)
  unset(CMAKE_REQUIRED_LIBRARIES)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(ISAL_LINKS)
    set(ISAL_FOUND TRUE)
  endif()
endif()

if(ISAL_FOUND)
  set(installer_default_inflater isal)
else()
  set(installer_default_inflater zlib)
endif()
set(INSTALLER_INFLATER ${installer_default_inflater} CACHE STRING
    "Engine that inflates package content: isal (ISA-L igzip) or zlib")
set_property(CACHE INSTALLER_INFLATER PROPERTY STRINGS isal zlib)
if(NOT INSTALLER_INFLATER MATCHES "^(isal|zlib)$")
  message(FATAL_ERROR "INSTALLER_INFLATER must be isal or zlib, not '${INSTALLER_INFLATER}'")
endif()
if(INSTALLER_INFLATER STREQUAL "isal" AND NOT ISAL_FOUND)
  message(FATAL_ERROR "INSTALLER_INFLATER=isal, but ISA-L (isa-l/igzip_lib.h and a libisal "
                      "this build can link) is not found; install libisal-dev or choose zlib")
endif()
message(STATUS "Content inflater: ${INSTALLER_INFLATER}")

# Links the chosen engine (and ISA-L, where found) into `target`.
function(installer_link_inflater target)
  if(ISAL_FOUND)
    target_include_directories(${target} PUBLIC ${ISAL_INCLUDE_DIR})
    target_link_libraries(${target} PUBLIC ${ISAL_LIBRARY})
    target_compile_definitions(${target} PUBLIC INSTALLER_HAVE_ISAL)
  endif()
  if(INSTALLER_INFLATER STREQUAL "isal")
    target_compile_definitions(${target} PUBLIC INSTALLER_INFLATER_ISAL)
  endif()
endfunction()
