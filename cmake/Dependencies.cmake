# libsodium, nlohmann/json and GoogleTest for the preset being configured.
# Everything comes from Debian: packages on Linux; for Windows, libsodium is
# cross-built from Debian's source package and nlohmann/json's headers are
# shared without the rest of /usr/include.

if(WIN32)
  set(KESTROVA_SODIUM_PREFIX ${CMAKE_SOURCE_DIR}/build/deps/libsodium-windows)
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/build-libsodium-windows ${KESTROVA_SODIUM_PREFIX}
    RESULT_VARIABLE sodium_result)
  if(NOT sodium_result EQUAL 0)
    message(FATAL_ERROR "libsodium cross build failed")
  endif()
  add_library(kestrova::sodium STATIC IMPORTED)
  set_target_properties(kestrova::sodium PROPERTIES
    IMPORTED_LOCATION ${KESTROVA_SODIUM_PREFIX}/lib/libsodium.a
    INTERFACE_INCLUDE_DIRECTORIES ${KESTROVA_SODIUM_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)

  # Only the nlohmann directory, never the host's other headers.
  set(json_include ${CMAKE_BINARY_DIR}/deps/json-include)
  file(MAKE_DIRECTORY ${json_include})
  file(CREATE_LINK /usr/include/nlohmann ${json_include}/nlohmann SYMBOLIC)
  add_library(kestrova::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(kestrova::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${json_include})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  add_library(kestrova::sodium ALIAS PkgConfig::SODIUM)
  find_package(nlohmann_json 3.11 REQUIRED)
  add_library(kestrova::nlohmann_json ALIAS nlohmann_json::nlohmann_json)
  find_package(benchmark REQUIRED)
endif()

# GoogleTest from Debian's source, built for this preset.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/deps/googletest EXCLUDE_FROM_ALL SYSTEM)
if(WIN32)
  # The win32 thread model's C++ runtime has no std::mutex: GoogleTest gets a
  # Notification built on a Windows event instead of its own.
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC
    "SHELL:-include ${CMAKE_SOURCE_DIR}/tests/cmake/gtest_win32_notification.h")
endif()
