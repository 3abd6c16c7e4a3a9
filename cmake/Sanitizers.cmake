# AddressSanitizer + UndefinedBehaviorSanitizer for the whole build when OPX_SANITIZE is on.
# Any undefined behaviour aborts the test that hit it, so CI cannot miss a report.
# -O1 (after the build type's -O2, so it wins): the sanitizers' usual level, and a third less
# compile time for the instrumented build, which is the longest stage of a test run.
if(OPX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer -O1)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments everything (libraries included) for coverage and checks it with
# the same sanitizers.
if(OPX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
