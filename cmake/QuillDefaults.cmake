# Compiler settings shared by every target of the project's own code.

if(WIN32)
  # ANSI Win32 for texts, the wide functions for paths (platform/WinText.h);
  # C99 printf formats (%zu, %llu) in both Windows builds.
  add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX
                          __USE_MINGW_ANSI_STDIO=1 _CRT_SECURE_NO_WARNINGS)
  # Static C and C++ runtime (and winpthread): the outputs need no MinGW DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(QUILL_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=${QUILL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUILL_SANITIZE})
endif()

set(QUILL_WARNINGS
    -Wall -Wextra -Wpedantic -Werror
    -Wformat=2 -Wformat-security -Wundef -Wvla -Wcast-qual
    -Wimplicit-fallthrough -Wmissing-declarations -Wpointer-arith)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND QUILL_WARNINGS -Wduplicated-cond -Wlogical-op -Wduplicated-branches)
endif()

# Applies the project's warnings (as errors) to one of our own targets.
function(quill_defaults target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${QUILL_WARNINGS} -Wnon-virtual-dtor -Woverloaded-virtual>
    $<$<COMPILE_LANGUAGE:C>:${QUILL_WARNINGS}>)
endfunction()
