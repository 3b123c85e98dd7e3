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
endif()
