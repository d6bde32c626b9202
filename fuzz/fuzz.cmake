# Fuzz targets, built with clang's libFuzzer:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVELSEND_FUZZ=ON -DVELSEND_TESTS=OFF
# Included before the library is defined, so that the whole system is built
# with the fuzzer's coverage and the sanitizers; scripts/fuzz.sh runs them.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "VELSEND_FUZZ needs clang (CXX=clang++): libFuzzer is part of it")
endif()

add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                    -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)

set(VELSEND_FUZZ_TARGETS reply_reader command_line encoders data_writer html_text)
foreach(name IN LISTS VELSEND_FUZZ_TARGETS)
  add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}_fuzzer.cpp)
  target_link_libraries(fuzz_${name} PRIVATE velsend_core)
  target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/fuzz)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endforeach()
