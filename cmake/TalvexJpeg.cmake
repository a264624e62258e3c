# libjpeg: Debian's natively, the static libjpeg-turbo cache in the Windows tree.
if(NOT TARGET JPEG::JPEG)
  if(WIN32)
    set(TALVEX_LIBJPEG_ROOT "${CMAKE_SOURCE_DIR}/build/deps/libjpeg-turbo-win64" CACHE PATH
      "The static MinGW libjpeg-turbo that scripts/bootstrap builds")
    if(NOT TALVEX_LIBJPEG_ROOT OR NOT EXISTS "${TALVEX_LIBJPEG_ROOT}/lib/libjpeg.a")
      message(FATAL_ERROR "TALVEX_LIBJPEG_ROOT must name the MinGW libjpeg-turbo build (scripts/bootstrap)")
    endif()
    add_library(JPEG::JPEG STATIC IMPORTED GLOBAL)
    set_target_properties(JPEG::JPEG PROPERTIES
      IMPORTED_LOCATION "${TALVEX_LIBJPEG_ROOT}/lib/libjpeg.a"
      INTERFACE_INCLUDE_DIRECTORIES "${TALVEX_LIBJPEG_ROOT}/include")
  else()
    find_package(JPEG REQUIRED)
  endif()
endif()

