# The installer's built-in public keys, one per signature scheme, as 64
# hexadecimal digits: the 32 key bytes in order (RFC 8032 encoding for
# Ed25519; the little-endian u-coordinate for the legacy scheme). They
# default to the public halves of the development keys in keys/.
set(INSTALLER_DEV_ED25519_PUBLIC_KEY
    "88bf691cc8828e4ff11710e16ad00773d0ab133bcf14abff1c9f6cad454c493a")
set(INSTALLER_DEV_LEGACY_PUBLIC_KEY
    "deafb7ff8d3eead19a039d1ca0be89c9337484ac8c6683c9cdaf44923c6e9554")

set(INSTALLER_ED25519_PUBLIC_KEY "${INSTALLER_DEV_ED25519_PUBLIC_KEY}" CACHE STRING
    "Ed25519 public key the installer trusts (64 hexadecimal digits)")
set(INSTALLER_LEGACY_PUBLIC_KEY "${INSTALLER_DEV_LEGACY_PUBLIC_KEY}" CACHE STRING
    "Legacy-scheme public key the installer trusts (64 hexadecimal digits)")

foreach(key_option INSTALLER_ED25519_PUBLIC_KEY INSTALLER_LEGACY_PUBLIC_KEY)
  if(NOT "${${key_option}}" MATCHES "^[0-9A-Fa-f]+$")
    message(FATAL_ERROR "${key_option} must be 64 hexadecimal digits, not \"${${key_option}}\"")
  endif()
  string(LENGTH "${${key_option}}" key_length)
  if(NOT key_length EQUAL 64)
    message(FATAL_ERROR "${key_option} must be 64 hexadecimal digits, not ${key_length}")
  endif()
endforeach()

string(TOLOWER "${INSTALLER_ED25519_PUBLIC_KEY}" installer_ed25519_key_hex)
string(TOLOWER "${INSTALLER_LEGACY_PUBLIC_KEY}" installer_legacy_key_hex)
if(installer_ed25519_key_hex STREQUAL INSTALLER_DEV_ED25519_PUBLIC_KEY AND
   installer_legacy_key_hex STREQUAL INSTALLER_DEV_LEGACY_PUBLIC_KEY)
  set(installer_dev_keys 1)
else()
  set(installer_dev_keys 0)
  message(STATUS "Installer trusts the configured, non-development public keys")
endif()

target_compile_definitions(installer_core PRIVATE
  INSTALLER_ED25519_PUBLIC_KEY_HEX="${installer_ed25519_key_hex}"
  INSTALLER_LEGACY_PUBLIC_KEY_HEX="${installer_legacy_key_hex}"
  INSTALLER_TRUSTS_DEV_KEYS=${installer_dev_keys})
