# The checked builds. YFZS_SANITIZE instruments every target with AddressSanitizer and UBSan
# (scripts/sanitize builds the display-free libraries and their tests so); YFZS_FUZZ, with
# clang, does the same plus the coverage libFuzzer steers by and adds the fuzz targets of
# tests/fuzz (scripts/fuzz). The libraries are the same targets as in the normal build.
option(YFZS_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(YFZS_FUZZ "Build the libFuzzer targets (clang), everything instrumented" OFF)
if(YFZS_SANITIZE OR YFZS_FUZZ)
  # Undefined behaviour stops the program, so a test cannot pass over it.
  set(yfzs_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${yfzs_sanitizers})
  add_link_options(${yfzs_sanitizers})
endif()
if(YFZS_FUZZ)
  # Coverage everywhere; libFuzzer's own main goes only into the fuzz targets.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
