# kestrova_pure_test(NAME SOURCES...): a GoogleTest program of the pure logic.
# Built in both presets: natively under ASan/UBSan, and for Windows under Wine.
function(kestrova_pure_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE kestrova_core GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  kestrova_own_target(${name})
  add_test(NAME ${name} COMMAND ${name})
  kestrova_label_test(${name})
endfunction()

# kestrova_windows_test(NAME SOURCES...): a GoogleTest program of the Windows
# layer, run under Wine. Nothing in the native preset.
function(kestrova_windows_test name)
  if(NOT WIN32)
    return()
  endif()
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE kestrova_windows GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  kestrova_own_target(${name})
  add_test(NAME ${name} COMMAND ${name})
  kestrova_label_test(${name})
endfunction()

# kestrova_label_test(TEST [EXTRA_LABEL]): labels a test for its preset; under
# Wine it needs the prepared prefix and display.
function(kestrova_label_test test)
  if(WIN32)
    set_tests_properties(${test} PROPERTIES LABELS "windows;${ARGN}"
                         FIXTURES_REQUIRED kestrova_wine)
  else()
    set_tests_properties(${test} PROPERTIES LABELS "native;${ARGN}")
  endif()
endfunction()

# kestrova_program_copy(TARGET [EXTRA_SOURCES...]): the program again, linked
# from the same sources, libraries and options as KestrovaAI-setup (so with
# its resources and header), compiled in its own object directory, plus the
# extra sources: a second link to compare, or a build with another key.
function(kestrova_program_copy target)
  get_target_property(program_dir KestrovaAI-setup SOURCE_DIR)
  get_target_property(program_sources KestrovaAI-setup SOURCES)
  set(sources)
  foreach(source IN LISTS program_sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${program_dir})
    list(APPEND sources ${source})
  endforeach()
  add_executable(${target} WIN32 ${ARGN} ${sources})
  foreach(property LINK_LIBRARIES LINK_OPTIONS COMPILE_OPTIONS COMPILE_DEFINITIONS
                   INCLUDE_DIRECTORIES)
    get_target_property(value KestrovaAI-setup ${property})
    if(value)
      set_property(TARGET ${target} PROPERTY ${property} "${value}")
    endif()
  endforeach()
endfunction()
