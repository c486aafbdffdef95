# Signing of the libraries the agent loads, with a test PKI made at build time.
#
# The certificates and keys are made by make_test_pki.sh with the openssl
# command line into the build tree; no private key is ever committed. A
# release build signs with the maker's own key through the same wardex-sign
# tool (docs/plugins.md).

set(WARDEX_PKI_DIR ${CMAKE_BINARY_DIR}/pki CACHE INTERNAL "Test certificates and keys")

add_custom_command(
  OUTPUT ${WARDEX_PKI_DIR}/pki.stamp
  COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/make_test_pki.sh ${WARDEX_PKI_DIR}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/make_test_pki.sh
  COMMENT "Making the test certificates"
  VERBATIM)
add_custom_target(wardex_test_pki DEPENDS ${WARDEX_PKI_DIR}/pki.stamp)

# wardex_sign_library(TARGET [SIGNER name]): signs the target's file after
# every link, by default with the trusted test publisher ("publisher");
# SIGNER names another certificate of the test PKI.
function(wardex_sign_library target)
  cmake_parse_arguments(ARG "" "SIGNER" "" ${ARGN})
  if(NOT ARG_SIGNER)
    set(ARG_SIGNER publisher)
  endif()
  add_dependencies(${target} wardex_test_pki wardex-sign)
  # New certificates relink the library, so that it is signed with them.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${WARDEX_PKI_DIR}/pki.stamp)
  # The sanitizer builds run the tool instrumented; a leak report at its exit
  # must not fail the link step.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:wardex-sign>
            --key ${WARDEX_PKI_DIR}/${ARG_SIGNER}.key
            --cert ${WARDEX_PKI_DIR}/${ARG_SIGNER}.pem
            $<TARGET_FILE:${target}>
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
