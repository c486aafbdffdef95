# Signing of the libraries the agent loads, with a test PKI made at build time.
#
# The certificates and keys are made by make_test_pki.sh with the openssl
# command line into the build tree; no private key is ever committed. A
# release build signs with the maker's own key: wardex-sign on Linux
# (docs/plugins.md), an Authenticode signing tool on Windows.

set(WARDEX_PKI_DIR ${CMAKE_BINARY_DIR}/pki CACHE INTERNAL "Test certificates and keys")
if(WIN32)
  # Authenticode files, signed on the build machine with osslsigncode; RSA
  # keys, the only ones Wine's trust provider verifies.
  find_program(WARDEX_OSSLSIGNCODE osslsigncode REQUIRED)
  set(pki_keys rsa)
endif()

add_custom_command(
  OUTPUT ${WARDEX_PKI_DIR}/pki.stamp
  COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/make_test_pki.sh ${WARDEX_PKI_DIR} ${pki_keys}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/make_test_pki.sh
  COMMENT "Making the test certificates"
  VERBATIM)
add_custom_target(wardex_test_pki DEPENDS ${WARDEX_PKI_DIR}/pki.stamp)

# The command that signs FILE in place with SIGNER of the test PKI.
function(wardex_sign_command out file signer)
  if(WIN32)
    set(${out} bash ${PROJECT_SOURCE_DIR}/cmake/authenticode_sign.sh ${WARDEX_OSSLSIGNCODE}
        ${WARDEX_PKI_DIR}/${signer} ${file} PARENT_SCOPE)
  else()
    # The sanitizer builds run the tool instrumented; a leak report at its
    # exit must not fail the link step.
    set(${out} ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:wardex-sign>
        --key ${WARDEX_PKI_DIR}/${signer}.key --cert ${WARDEX_PKI_DIR}/${signer}.pem ${file}
        PARENT_SCOPE)
  endif()
endfunction()

# wardex_sign_library(TARGET [SIGNER name]): signs the target's file after
# every link, by default with the trusted test publisher ("publisher");
# SIGNER names another certificate of the test PKI.
function(wardex_sign_library target)
  cmake_parse_arguments(ARG "" "SIGNER" "" ${ARGN})
  if(NOT ARG_SIGNER)
    set(ARG_SIGNER publisher)
  endif()
  add_dependencies(${target} wardex_test_pki)
  if(NOT WIN32)
    add_dependencies(${target} wardex-sign)
  endif()
  # New certificates relink the library, so that it is signed with them.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${WARDEX_PKI_DIR}/pki.stamp)
  wardex_sign_command(sign $<TARGET_FILE:${target}> ${ARG_SIGNER})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${sign}
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
