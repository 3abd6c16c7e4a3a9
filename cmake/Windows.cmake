# The Windows build (cross-built with MinGW-w64, see cmake/toolchain-*.cmake).
#
# - Libraries are named as on Windows (codexa.dll, with the import library libcodexa.dll.a) and
#   export exactly the names of their exports file, through a module-definition file
#   (opx_shared_library in Libraries.cmake).
# - bzip2 has no MinGW build in Debian: the extractor links a small stand-in whose calls report
#   that the build has no bzip2, so a tape image with bzip2-compressed blocks gets a message
#   saying so. zlib comes from Debian's libz-mingw-w64-dev.
# - The MinGW run-time DLLs that the programs need are copied beside them, so that the build
#   folder runs under Wine as it is and the zip carries them.
# - The window programs need Qt, which Debian does not build for MinGW; the tests and benchmarks
#   are Linux programs (the Windows build is tested from Linux through Wine, tests/windows).

add_library(opx_bzip2_unavailable STATIC ${CMAKE_SOURCE_DIR}/cmake/windows/bzip2_unavailable.c)
target_include_directories(opx_bzip2_unavailable PUBLIC ${CMAKE_SOURCE_DIR}/cmake/windows)
add_library(BZip2::BZip2 ALIAS opx_bzip2_unavailable)

# The folders of the compiler's own run-time DLLs and of the MinGW libraries.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_gcc_dir "${_libgcc}" DIRECTORY)
set(_runtime_dlls)
foreach(_dll libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll zlib1.dll)
  find_file(_found_${_dll} ${_dll} PATHS ${_gcc_dir} /usr/${OPX_MINGW_TRIPLET}/lib
            /usr/${OPX_MINGW_TRIPLET}/bin NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(_found_${_dll})
    list(APPEND _runtime_dlls ${_found_${_dll}})
  endif()
endforeach()
set(OPX_WINDOWS_RUNTIME_DLLS ${_runtime_dlls} CACHE INTERNAL "MinGW run-time DLLs beside the programs")
add_custom_target(windows_runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OPX_WINDOWS_RUNTIME_DLLS} ${CMAKE_BINARY_DIR}/bin
  COMMENT "MinGW run-time DLLs beside the programs")

# CLI11 and nlohmann/json are header-only and the same for every target: the programs take them
# from the host's packages (libcli11-dev, nlohmann-json3-dev). Only those two folders are made
# visible, never the host's /usr/include with its C library.
set(_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_host_headers})
foreach(_dir CLI nlohmann)
  if(NOT EXISTS ${_host_headers}/${_dir} AND EXISTS /usr/include/${_dir})
    file(CREATE_LINK /usr/include/${_dir} ${_host_headers}/${_dir} SYMBOLIC)
  endif()
endforeach()
include_directories(SYSTEM ${_host_headers})

# The export tests of tests/windows (the libraries are named through generator expressions, so
# they may be defined later).
enable_testing()
add_subdirectory(${CMAKE_SOURCE_DIR}/tests/windows ${CMAKE_BINARY_DIR}/tests/windows)
