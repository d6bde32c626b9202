# The Windows program: a standalone 32-bit console executable with its own
# version resource, the about dialog and its header picture. Included by the
# top-level CMakeLists.txt when the target is Windows.

enable_language(RC)

# Link the C and C++ runtimes statically, so that velsend.exe stands alone.
target_link_options(velsend_core INTERFACE -static -static-libgcc -static-libstdc++)
target_compile_definitions(velsend_core PRIVATE NOMINMAX _WIN32_WINNT=0x0601)

# TLS through the system's own library (SChannel), so no TLS DLL ships with
# the program.
target_sources(velsend_core PRIVATE ${CMAKE_SOURCE_DIR}/platform/tls_schannel.cpp)
target_link_libraries(velsend_core PUBLIC secur32 crypt32)
# HMAC-MD5 of CRAM-MD5 through the system's CNG.
target_link_libraries(velsend_core PUBLIC bcrypt)
# OAuth 2.0 token requests through WinHTTP; the token file sealed with DPAPI
# (crypt32, above).
target_link_libraries(velsend_core PUBLIC winhttp)
# nlohmann/json is header-only and the same for every target, but the host's
# /usr/include cannot be on a cross compiler's path (glibc's headers would
# shadow MinGW's): a build-tree directory holds only a link to its folder.
find_path(VELSEND_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/json-include)
file(CREATE_LINK ${VELSEND_NLOHMANN_DIR}/nlohmann ${CMAKE_BINARY_DIR}/json-include/nlohmann
  SYMBOLIC)
target_include_directories(velsend_core SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/json-include)

# The header picture of the about dialog is drawn by a script, not kept as a
# binary in the repository.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(VELSEND_HEADER_BITMAP ${CMAKE_BINARY_DIR}/generated/about_header.bmp)
execute_process(
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/make_header_bitmap.py ${VELSEND_HEADER_BITMAP}
  RESULT_VARIABLE bitmap_result)
if(NOT bitmap_result EQUAL 0)
  message(FATAL_ERROR "could not draw ${VELSEND_HEADER_BITMAP}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/make_header_bitmap.py)

# The resource script carries the version from the product definition at the
# top of CMakeLists.txt. Every program linking the core gets the resources, so
# the unit tests can read their own version block too.
configure_file(${CMAKE_CURRENT_LIST_DIR}/velsend.rc.in ${CMAKE_BINARY_DIR}/generated/velsend.rc @ONLY)
target_sources(velsend_core INTERFACE ${CMAKE_BINARY_DIR}/generated/velsend.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/generated/velsend.rc PROPERTIES
  OBJECT_DEPENDS ${VELSEND_HEADER_BITMAP})

if(VELSEND_TESTS)
  # No GoogleTest is packaged for MinGW: build Debian's source copy of it.
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # use the Win32 primitives
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Drives the about window and stands in for Wine's desktop programs in the
  # end-to-end suite (tests/e2e/test_windows.py).
  add_executable(wine_probe ${CMAKE_SOURCE_DIR}/tests/windows/wine_probe.cpp)
  target_link_libraries(wine_probe PRIVATE comctl32 user32 gdi32)
  target_link_options(wine_probe PRIVATE -static -static-libgcc -static-libstdc++)
  # Drives the TLS client on its own against scripted TLS peers
  # (tests/e2e/test_schannel.py) and adds a test CA to Wine's trusted roots.
  add_executable(tls_probe ${CMAKE_SOURCE_DIR}/tests/windows/tls_probe.cpp)
  target_link_libraries(tls_probe PRIVATE velsend_core)
  # Tests are listed when ctest runs (under Wine), not at build time, and
  # the end-to-end suite runs the program through Wine (inside a Wine
  # session such as scripts/test-windows.sh sets up).
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  cmake_language(DEFER CALL set_property TEST e2e APPEND PROPERTY ENVIRONMENT VELSEND_WINE=1)
endif()
