# The Debian package that "cpack -G DEB" makes in a build directory: npk
# and the installer, stripped, with their compressed man pages, the bash
# completion, and the copyright and changelog in /usr/share/doc/PACKAGE/.
#
# Its name, version and description say which keys the build trusts:
#   development keys   npk-devkeys  VERSION~devkeys  ships the (public)
#                      development private keys in /usr/share/npk/keys
#   other keys         npk          VERSION          names their fingerprints
# The two conflict, since both carry /usr/bin/npk. The installer goes to
# /usr/libexec/kestavin/installer, out of PATH so that it cannot be taken
# for another program of that name; npk simulate finds it there.

set(NPK_DEBIAN_MAINTAINER "Kestavin developers <developers@kestavin.example>" CACHE STRING
    "Maintainer of the Debian package (cpack -G DEB)")

# The fingerprint npk gives a key (tools/npk/key_ring.h): the first 8 bytes
# of the SHA-256 of its 32 bytes, in hexadecimal.
function(installer_key_fingerprint hex out)
  set(digits "01234567")
  set(escaped "")
  foreach(at RANGE 0 62 2)
    string(SUBSTRING "${hex}" ${at} 2 pair)
    math(EXPR byte "0x${pair}")
    math(EXPR high "${byte} / 64")
    math(EXPR middle "(${byte} / 8) % 8")
    math(EXPR low "${byte} % 8")
    string(APPEND escaped "\\${high}${middle}${low}")
  endforeach()
  execute_process(COMMAND sh -c "printf '${escaped}' | sha256sum"
                  OUTPUT_VARIABLE digest RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot compute the fingerprint of key ${hex}")
  endif()
  string(SUBSTRING "${digest}" 0 16 fingerprint)
  set(${out} "${fingerprint}" PARENT_SCOPE)
endfunction()
installer_key_fingerprint("${installer_ed25519_key_hex}" npk_ed25519_fingerprint)
installer_key_fingerprint("${installer_legacy_key_hex}" npk_legacy_fingerprint)

if(installer_dev_keys)
  set(NPK_PACKAGE_NAME npk-devkeys)
  set(npk_other_package npk)
  set(NPK_PACKAGE_VERSION "${PROJECT_VERSION}~devkeys")
  set(npk_synopsis "Kestavin package tool and installer, development keys (not for production)")
  set(npk_keys_text "This development build trusts the public development keys of the Kestavin
source tree (ed25519:${npk_ed25519_fingerprint} and legacy:${npk_legacy_fingerprint}) and
ships their private halves in /usr/share/npk/keys: anyone can sign
packages that its installer accepts. Never use it for production.")
else()
  set(NPK_PACKAGE_NAME npk)
  set(npk_other_package npk-devkeys)
  set(NPK_PACKAGE_VERSION "${PROJECT_VERSION}")
  set(npk_synopsis "Kestavin package tool and installer")
  set(npk_keys_text "This build's installer trusts the vendor keys ed25519:${npk_ed25519_fingerprint}
and legacy:${npk_legacy_fingerprint} (npk trusted prints them); npk signs only
with key files that are named.")
endif()

# Compressed man pages, copyright and changelog, as Debian keeps them.
set(npk_doc_dir "${PROJECT_BINARY_DIR}/debian-doc")
configure_file(docs/changelog.in "${npk_doc_dir}/changelog" @ONLY)
set(npk_compressed)
foreach(source docs/npk.1 docs/installer.8 "${npk_doc_dir}/changelog")
  get_filename_component(name "${source}" NAME)
  get_filename_component(source "${source}" ABSOLUTE)
  add_custom_command(OUTPUT "${npk_doc_dir}/${name}.gz"
                     COMMAND gzip -9 -n -c "${source}" > "${npk_doc_dir}/${name}.gz"
                     DEPENDS "${source}" VERBATIM)
  list(APPEND npk_compressed "${npk_doc_dir}/${name}.gz")
endforeach()
add_custom_target(npk_documents ALL DEPENDS ${npk_compressed})

install(FILES "${npk_doc_dir}/npk.1.gz" DESTINATION share/man/man1 COMPONENT npk)
install(FILES "${npk_doc_dir}/installer.8.gz" DESTINATION share/man/man8 COMPONENT installer)
install(FILES docs/copyright "${npk_doc_dir}/changelog.gz"
        DESTINATION share/doc/${NPK_PACKAGE_NAME} COMPONENT npk)

set(CPACK_PACKAGE_NAME ${NPK_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${NPK_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "${NPK_DEBIAN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${npk_synopsis}")
# CPack writes the synopsis (the summary) before these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "npk builds, inspects, verifies and signs Kestavin router packages, and
runs the installer on an overlay of a router root to show what an install
would change (npk simulate). The installer is the one a router runs,
built for this machine, in /usr/libexec/kestavin.
.
${npk_keys_text}")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS squashfs-tools)
set(CPACK_DEBIAN_PACKAGE_CONFLICTS ${npk_other_package})
set(CPACK_DEBIAN_PACKAGE_REPLACES ${npk_other_package})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
