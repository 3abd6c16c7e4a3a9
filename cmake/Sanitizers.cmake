# AddressSanitizer + UndefinedBehaviorSanitizer for the whole build when OPX_SANITIZE is on.
# Any undefined behaviour aborts the test that hit it, so CI cannot miss a report.
if(OPX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
