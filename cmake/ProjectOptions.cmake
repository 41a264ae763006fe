# Every target links parking_options: the language level, the warnings and the
# strict Qt defines live here and nowhere else.
add_library(parking_options INTERFACE)
target_compile_features(parking_options INTERFACE cxx_std_20)
target_compile_options(parking_options INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(parking_options INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_URL_CAST_FROM_STRING
  QT_USE_QSTRINGBUILDER)
if(PARKING_SANITIZE)
  target_compile_options(parking_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(parking_options INTERFACE -fsanitize=address,undefined)
endif()
# The fuzz targets' build (clang): every library is instrumented for
# libFuzzer's coverage; the targets themselves link its driver.
if(PARKING_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "PARKING_FUZZ needs clang: CC=clang CXX=clang++ cmake -DPARKING_FUZZ=ON ...")
  endif()
  target_compile_options(parking_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
