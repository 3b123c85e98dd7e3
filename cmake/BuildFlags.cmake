# Compiler and linker settings of both presets.

# Warnings (and sanitizers, in the native preset) for the program's own targets.
function(kestrova_own_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(KESTROVA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

if(WIN32)
  # Everything linked statically: the executables need Windows system DLLs only.
  add_compile_options(-ffunction-sections -fdata-sections
                      -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
  add_link_options(-static -static-libgcc -static-libstdc++
                   -Wl,--gc-sections -Wl,--no-insert-timestamp)
  set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG")
  set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG")
  # Unicode Windows headers, nothing older than Vista's API.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                          _WIN32_WINNT=0x0600 WINVER=0x0600)
  # Resource scripts are UTF-8. (Options of a target reach windres only when
  # they are -D or -I, so this one is set here.)
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} --codepage=65001")
endif()

# kestrova_program_image(TARGET): what the program's exe carries besides its
# code: the resources (manifest, icon group 1, version block) and the header
# (Vista as the oldest system, ASLR with high entropy, NX, terminal-server
# aware, 1 MiB stack and heap reserved with 4 KiB committed, no symbols).
function(kestrova_program_image target)
  set(dir ${CMAKE_SOURCE_DIR}/resources)
  set(rc ${dir}/KestrovaAI-setup.rc)
  target_sources(${target} PRIVATE ${rc})
  # windres does not report the files that the script pulls in.
  set(pulled_in ${dir}/KestrovaAI-setup.manifest ${dir}/icon-group.bin)
  foreach(size 16 24 32 48 64 128 256)
    list(APPEND pulled_in ${dir}/icon-${size}.png)
  endforeach()
  set_property(SOURCE ${rc} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS ${pulled_in})
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:RC>:-I${dir}>")
  target_link_options(${target} PRIVATE
    LINKER:--major-subsystem-version,6,--minor-subsystem-version,0
    LINKER:--major-os-version,6,--minor-os-version,0
    LINKER:--dynamicbase,--high-entropy-va,--nxcompat,--tsaware
    "SHELL:-Xlinker --stack -Xlinker 0x100000,0x1000"
    "SHELL:-Xlinker --heap -Xlinker 0x100000,0x1000"
    $<$<CONFIG:Release>:-s>)
endfunction()
