# Read by cpack once per generator: the .tar.gz is unpacked at / on the
# device by hand and gets the device's files only, not Debian's bookkeeping.
if(CPACK_GENERATOR STREQUAL "TGZ")
    set(CPACK_COMPONENTS_ALL device)
endif()
