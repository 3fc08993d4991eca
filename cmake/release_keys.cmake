# The publisher's public keys the updater accepts, embedded in the core library.
#
# MORVANE_RELEASE_PUBLIC_KEY (a CMake variable, else the environment variable of that name)
# names a PEM file of one or more Ed25519 public keys: a publisher pins their own keys with it,
# and lists the next key beside the current one before switching to it. An empty file embeds no
# key, and such a build refuses every update. Without it, the build embeds the public half of the
# key scripts/release signs with (scripts/release-key), making that key first if there is none,
# so that builds and releases made on one machine agree.
#
# Also runs on its own: cmake -DPEM=<file> -DOUTPUT=<file.cc> -P cmake/release_keys.cmake

set(MORVANE_RELEASE_KEYS_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/release_keys.cc.in)
set(MORVANE_ED25519_PUBLIC_PREFIX 302a300506032b6570032100)

# Writes `output`, a C++ source defining publisherKeys(), from the public keys in `pem`.
function(morvane_write_release_keys pem output)
  set(block "-----BEGIN PUBLIC KEY-----[A-Za-z0-9+/=\r\n]*-----END PUBLIC KEY-----")
  file(READ "${pem}" text)
  string(REGEX MATCHALL "${block}" blocks "${text}")
  string(REGEX REPLACE "${block}" "" rest "${text}")
  string(STRIP "${rest}" rest)
  if(rest MATCHES "PRIVATE KEY")
    message(FATAL_ERROR "${pem} holds a private key; the build takes public keys only "
                        "(scripts/release-key --public prints one)")
  elseif(NOT rest STREQUAL "")
    message(FATAL_ERROR "${pem} holds something other than PEM public keys")
  endif()
  set(keys "")
  set(ids "")
  set(count 0)
  get_filename_component(scratch ${output} DIRECTORY)
  set(scratch ${scratch}/release_key_scratch)
  foreach(one IN LISTS blocks)
    file(WRITE ${scratch}.pem "${one}\n")
    execute_process(
      COMMAND openssl pkey -pubin -in ${scratch}.pem -outform DER -out ${scratch}.der
      RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    set(der "")
    if(NOT failed)
      file(READ ${scratch}.der der HEX)
    endif()
    string(LENGTH "${der}" length)
    math(EXPR count "${count} + 1")
    if(NOT length EQUAL 88 OR NOT der MATCHES "^${MORVANE_ED25519_PUBLIC_PREFIX}")
      file(REMOVE ${scratch}.pem ${scratch}.der)
      message(FATAL_ERROR "${pem}: key ${count} is not an Ed25519 public key")
    endif()
    execute_process(COMMAND tail -c 32 ${scratch}.der COMMAND sha256sum OUTPUT_VARIABLE id)
    string(SUBSTRING "${id}" 0 16 id)
    list(APPEND ids ${id})
    string(SUBSTRING "${der}" 24 64 raw)
    string(REGEX REPLACE "(..)" "0x\\1, " bytes "${raw}")
    string(APPEND keys "    {{${bytes}}},\n")
  endforeach()
  file(REMOVE ${scratch}.pem ${scratch}.der)
  set(MORVANE_RELEASE_KEY_COUNT ${count})
  set(MORVANE_RELEASE_KEY_BYTES "${keys}")
  configure_file(${MORVANE_RELEASE_KEYS_TEMPLATE} ${output} @ONLY)
  if(ids STREQUAL "")
    set(ids "none: this build refuses every update")
  endif()
  string(REPLACE ";" ", " ids "${ids}")
  set(MORVANE_RELEASE_KEY_IDS "${ids}" PARENT_SCOPE)
endfunction()

# Sets `result` to the PEM file of public keys this build embeds: the pinned one, or the public
# half of the signing key, written into the build directory; and `signing` to the private key
# scripts/release would sign with here, or "" when there is none. MORVANE_RELEASE_KEYS_ORIGIN
# says where the public keys came from.
function(morvane_release_public_keys result signing)
  set(tool ${PROJECT_SOURCE_DIR}/scripts/release-key)
  # A build directory keeps the keys it was configured with: a pin from the environment is
  # remembered in the cache, and only another pin (or -DMORVANE_RELEASE_PUBLIC_KEY= for the
  # default key) changes it.
  if(NOT "$ENV{MORVANE_RELEASE_PUBLIC_KEY}" STREQUAL "")
    set(MORVANE_RELEASE_PUBLIC_KEY "$ENV{MORVANE_RELEASE_PUBLIC_KEY}" CACHE FILEPATH
        "PEM file of the release public keys this build embeds; empty for the signing key's" FORCE)
  endif()
  set(MORVANE_RELEASE_PUBLIC_KEY "${MORVANE_RELEASE_PUBLIC_KEY}" CACHE FILEPATH
      "PEM file of the release public keys this build embeds; empty for the signing key's")
  set(keys "${MORVANE_RELEASE_PUBLIC_KEY}")
  if(keys STREQUAL "")
    execute_process(COMMAND ${tool} --create RESULT_VARIABLE failed
                    OUTPUT_VARIABLE private ERROR_VARIABLE said OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(STRIP "${said}" said)
    if(failed)
      message(FATAL_ERROR "${said}")
    elseif(NOT said STREQUAL "")
      message(NOTICE "${said}")
    endif()
    set(keys ${CMAKE_BINARY_DIR}/release-public-key.pem)
    execute_process(COMMAND ${tool} --public RESULT_VARIABLE failed OUTPUT_FILE ${keys}
                    ERROR_VARIABLE said)
    if(failed)
      message(FATAL_ERROR "${said}")
    endif()
    set(origin "the public half of ${private}")
    set(source "${private}")
  else()
    if(NOT EXISTS "${keys}")
      message(FATAL_ERROR "MORVANE_RELEASE_PUBLIC_KEY names ${keys}, which does not exist")
    endif()
    # The private key, if this machine has one, only for the tests to sign with.
    execute_process(COMMAND ${tool} RESULT_VARIABLE failed OUTPUT_VARIABLE private
                    ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
      set(private "")
    endif()
    set(origin "MORVANE_RELEASE_PUBLIC_KEY=${keys}")
    set(source "${keys}")
  endif()
  # A changed or deleted key file makes the next build configure again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
  set(MORVANE_RELEASE_KEYS_ORIGIN "${origin}" PARENT_SCOPE)
  set(${result} "${keys}" PARENT_SCOPE)
  set(${signing} "${private}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  morvane_write_release_keys("${PEM}" "${OUTPUT}")
endif()
