# Compiler flags, sanitizers and the test helpers shared by every folder.
add_compile_options(-Wall -Wextra)
include_directories(${CMAKE_SOURCE_DIR})

if(TALVEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(TALVEX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -g)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # Programs and tests must run on a bare Windows (or Wine) without the MinGW runtime DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  set(TALVEX_WINEPREFIX "${CMAKE_BINARY_DIR}/../wineprefix" CACHE PATH "Private Wine prefix used by the tests")
  get_filename_component(TALVEX_WINEPREFIX "${TALVEX_WINEPREFIX}" ABSOLUTE)
endif()

# The portable/Windows split: a library gets its portable sources everywhere and its
# *_win.cpp / *_dshow.cpp sources only in the Windows build, its *_posix.cpp ones only natively.
function(talvex_platform_sources out)
  set(result)
  foreach(src IN LISTS ARGN)
    if(src MATCHES "_(win|dshow)\\.cpp$")
      if(WIN32)
        list(APPEND result ${src})
      endif()
    elseif(src MATCHES "_posix\\.cpp$")
      if(NOT WIN32)
        list(APPEND result ${src})
      endif()
    else()
      list(APPEND result ${src})
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# talvex_add_test(NAME name TARGET target LABELS l... [ARGS a...])
# Windows test executables are run through the emulator (Wine) with the private prefix.
function(talvex_add_test)
  cmake_parse_arguments(T "" "NAME;TARGET" "LABELS;ARGS" ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${T_TARGET} ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300)
  if(WIN32)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT
      "WINEPREFIX=${TALVEX_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=winedbg.exe=d\\;winemenubuilder.exe=d\\;mscoree=d\\;mshtml=d")
  endif()
endfunction()
